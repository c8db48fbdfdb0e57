// Validates glTF files (.glb or .gltf) with the Khronos glTF validator, loading the files they
// refer to from disk, relative to each file. Prints every issue; exits 1 when any is an error or
// a warning. A file that is not there is an error: the converter names none.
//
//   node validate.mjs FILE...
//
// The validator knows no MSFT_texture_dds (--keep-dds): it warns that a .dds image has neither
// the type nor the bytes of a PNG or JPEG. Those two warnings, on such an image only, are allowed.

import { readFile } from 'node:fs/promises';
import path from 'node:path';
import * as validator from 'gltf-validator';

const severityNames = ['error', 'warning', 'info', 'hint'];

// The asset's JSON (the first chunk of a .glb); null when it cannot be read.
function assetJson(bytes) {
    let json = bytes;
    if (bytes.length >= 20 && Buffer.from(bytes.subarray(0, 4)).toString('latin1') === 'glTF') {
        const jsonLength = new DataView(bytes.buffer, bytes.byteOffset).getUint32(12, true);
        json = bytes.subarray(20, 20 + jsonLength);
    }
    try {
        return JSON.parse(new TextDecoder().decode(json));
    } catch {
        return null; // the validator reports what is wrong with it
    }
}

// Whether a warning is one the validator gives every .dds image offered through MSFT_texture_dds.
function isDdsImageWarning(message, ddsImages) {
    const match = /^\/images\/(\d+)(\/mimeType)?$/.exec(message.pointer ?? '');
    if (!match || !ddsImages.has(Number(match[1])))
        return false;
    return match[2] ? message.code === 'VALUE_NOT_IN_LIST' : message.code === 'IMAGE_UNRECOGNIZED_FORMAT';
}

async function validate(file) {
    const bytes = new Uint8Array(await readFile(file));
    const ddsImages = new Set(
        (assetJson(bytes)?.textures ?? []).map((texture) => texture.extensions?.MSFT_texture_dds?.source).filter(Number.isInteger));
    const report = await validator.validateBytes(bytes, {
        uri: path.basename(file),
        maxIssues: 0,
        writeTimestamp: false,
        externalResourceFunction: async (uri) =>
            new Uint8Array(await readFile(path.resolve(path.dirname(file), decodeURIComponent(uri)))),
    });
    const { numErrors, numWarnings, numInfos, numHints, messages } = report.issues;
    console.log(`${file}: ${numErrors} errors, ${numWarnings} warnings, ${numInfos} infos, ${numHints} hints`);
    let allowed = 0;
    for (const message of messages) {
        const ddsWarning = message.severity === 1 && isDdsImageWarning(message, ddsImages);
        allowed += ddsWarning;
        console.log(`  ${severityNames[message.severity] ?? message.severity}${ddsWarning ? ' (allowed: a .dds image)' : ''} ${message.code} ${message.pointer ?? ''}: ${message.message}`);
    }
    return numErrors === 0 && numWarnings === allowed;
}

const files = process.argv.slice(2);
if (files.length === 0) {
    console.error('usage: node validate.mjs FILE...');
    process.exit(2);
}
let passed = true;
for (const file of files) {
    try {
        passed = (await validate(file)) && passed;
    } catch (error) {
        console.log(`${file}: cannot validate: ${error}`);
        passed = false;
    }
}
process.exit(passed ? 0 : 1);
