namespace vantor {}
