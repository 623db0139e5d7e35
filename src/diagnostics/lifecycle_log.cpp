// Bridge protocol and lifecycle log: to come.
