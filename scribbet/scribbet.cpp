namespace scribbet {}
