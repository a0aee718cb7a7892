// Extended attributes for the module's in-memory file system, which has none: every call fails
// with ENOTSUP, as on a Linux file system without them (the file replacement then keeps what
// it can). Emscripten 3.1.6's C library does not provide these calls.
mergeInto(LibraryManager.library, {
  flistxattr__deps: ['$setErrNo'],
  flistxattr: function (fd, list, size) {
    setErrNo({{{ cDefine('ENOTSUP') }}});
    return -1;
  },
  fgetxattr__deps: ['$setErrNo'],
  fgetxattr: function (fd, name, value, size) {
    setErrNo({{{ cDefine('ENOTSUP') }}});
    return -1;
  },
  fsetxattr__deps: ['$setErrNo'],
  fsetxattr: function (fd, name, value, size, flags) {
    setErrNo({{{ cDefine('ENOTSUP') }}});
    return -1;
  },
  fremovexattr__deps: ['$setErrNo'],
  fremovexattr: function (fd, name) {
    setErrNo({{{ cDefine('ENOTSUP') }}});
    return -1;
  },
});
