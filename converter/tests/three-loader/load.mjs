// Loads glTF files (.glb, or .gltf with the files it names) with three.js's GLTFLoader, as a web
// page would, and prints one JSON line per file saying what three.js made of it. Exits 1 when a
// file does not load or three.js warns or errs about it (a texture it could not load, say).
//
//   node load.mjs FILE...
//
// Node.js is no browser: three.js decodes images with createImageBitmap, fetching them through
// object URLs. Those are stubbed below from the file's own bytes, so nothing is fetched from
// anywhere else. The stub reads only a PNG's header: its size becomes the image's.

import { readFile } from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { GLTFLoader } from 'three/examples/jsm/loaders/GLTFLoader.js';

globalThis.self ??= globalThis;
// FileLoader, which reads a .gltf's buffers, reports progress as a browser does.
globalThis.ProgressEvent ??= class extends Event {
    constructor(type, init = {}) {
        super(type);
        Object.assign(this, init);
    }
};

// Object URLs for the blobs GLTFLoader makes of images held in a buffer; files beside a .gltf
// are read from disk.
const blobs = new Map();
let blobCount = 0;
URL.createObjectURL = (blob) => {
    const url = `blob:brennic/${blobCount++}`;
    blobs.set(url, blob);
    return url;
};
URL.revokeObjectURL = (url) => blobs.delete(url);
globalThis.fetch = async (request) => {
    const url = request instanceof Request ? request.url : String(request);
    if (blobs.has(url))
        return new Response(blobs.get(url));
    if (!url.startsWith('file:'))
        throw new Error(`no fetching here: ${url}`);
    return new Response(await readFile(fileURLToPath(url)));
};

const pngSignature = [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a];
globalThis.createImageBitmap = async (blob) => {
    const bytes = new Uint8Array(await blob.arrayBuffer());
    if (bytes.length < 24 || pngSignature.some((b, i) => bytes[i] !== b))
        throw new Error('not a PNG');
    const header = new DataView(bytes.buffer, bytes.byteOffset);
    return { width: header.getUint32(16), height: header.getUint32(20), close() {} };
};

// What three.js says while loading, which should be nothing.
const said = [];
for (const level of ['warn', 'error'])
    console[level] = (...args) => said.push(`${level}: ${args.map(String).join(' ')}`);

async function load(file) {
    const bytes = await readFile(file);
    const data = file.endsWith('.gltf') ? bytes.toString('utf8') : bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length);
    const gltf = await new GLTFLoader().parseAsync(data, pathToFileURL(path.dirname(path.resolve(file))).href + '/');
    const meshes = [], materials = new Map();
    gltf.scene.traverse((object) => {
        if (!object.isMesh)
            return;
        meshes.push({ name: object.name, triangles: object.geometry.index.count / 3 });
        materials.set(object.material.name, object.material);
    });
    return {
        file,
        meshes,
        materials: [...materials.values()].map((material) => ({
            name: material.name,
            map: material.map ? { width: material.map.image.width, height: material.map.image.height } : null,
            transparent: material.transparent,
            alphaTest: material.alphaTest,
            userData: material.userData,
        })),
    };
}

const files = process.argv.slice(2);
if (files.length === 0) {
    process.stderr.write('usage: node load.mjs FILE...\n');
    process.exit(2);
}
let passed = true;
for (const file of files) {
    said.length = 0;
    try {
        const result = await load(file);
        process.stdout.write(JSON.stringify({ ...result, said }) + '\n');
        passed &&= said.length === 0;
    } catch (error) {
        process.stdout.write(JSON.stringify({ file, failed: String(error), said }) + '\n');
        passed = false;
    }
}
process.exit(passed ? 0 : 1);
