// Runtime bank reply: to come.
