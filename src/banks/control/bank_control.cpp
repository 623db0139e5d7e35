// Bank control: to come.
