// Runtime bank loader: to come.
