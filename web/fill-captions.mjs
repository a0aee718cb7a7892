// Writes the page's index.html from its template with the program's own captions, so that the
// page and the desktop window show the same words from one place (program/) and the page shows
// them before its scripts run. A {{path}} in the template names a value of the module's tables,
// as labels.clear or scaleNames.1; one the tables lack stops the build.
// Usage: node fill-captions.mjs TEMPLATE MODULE_DIR OUTPUT
// (MODULE_DIR holds doodlechorus.js and doodlechorus.wasm.)
import { readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const [template, moduleDir, output] = process.argv.slice(2);
const moduleUrl = pathToFileURL(path.resolve(moduleDir, 'doodlechorus.js')).href;
const { default: createDoodleChorus } = await import(moduleUrl);
const wasm = await WebAssembly.compile(readFileSync(path.resolve(moduleDir, 'doodlechorus.wasm')));
const module = await createDoodleChorus({
  instantiateWasm(imports, receive) {
    WebAssembly.instantiate(wasm, imports).then((instance) => receive(instance));
    return {};
  },
});
const tables = module.tables();

const kEscapes = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' };
const escaped = (text) => String(text).replace(/[&<>"]/g, (c) => kEscapes[c]);

const filled = readFileSync(template, 'utf8').replace(/\{\{([\w.]+)\}\}/g, (_, name) => {
  const value = name.split('.').reduce((at, key) => at?.[key], tables);
  if (typeof value !== 'string') {
    console.error(`${template}: the program has no caption {{${name}}}`);
    process.exit(1);
  }
  return escaped(value);
});
writeFileSync(output, filled);
