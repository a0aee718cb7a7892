// Hands `text` to a function of the WebAssembly module as a NUL-terminated UTF-8 string in the
// module's memory, for the length of `use`; null is handed over as the null pointer.
export function withCString(module, text, use) {
  if (text === null) return use(0);
  const length = module.lengthBytesUTF8(text) + 1;
  const pointer = module._malloc(length);
  module.stringToUTF8(text, pointer, length);
  try {
    return use(pointer);
  } finally {
    module._free(pointer);
  }
}
