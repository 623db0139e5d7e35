// Hosted bank download and cache: to come.
