// placeholder until the module has code
