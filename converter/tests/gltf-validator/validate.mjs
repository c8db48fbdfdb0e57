// Validates glTF files (.glb or .gltf) with the Khronos glTF validator, loading the files they
// refer to from disk, relative to each file. Prints every issue; exits 1 when any is an error or
// a warning.
//
//   node validate.mjs [--allow-missing-images] FILE...
//
// A file that is not there is an error, unless it is an image and --allow-missing-images is
// given: the converter keeps references to textures it could not find, and says so. Such an
// image cannot be read, so warnings are allowed then.

import { readFile } from 'node:fs/promises';
import path from 'node:path';
import * as validator from 'gltf-validator';

const severityNames = ['error', 'warning', 'info', 'hint'];

// The image URIs the asset names, from its JSON (the first chunk of a .glb).
function imageUris(bytes) {
    let json = bytes;
    if (bytes.length >= 20 && Buffer.from(bytes.subarray(0, 4)).toString('latin1') === 'glTF') {
        const jsonLength = new DataView(bytes.buffer, bytes.byteOffset).getUint32(12, true);
        json = bytes.subarray(20, 20 + jsonLength);
    }
    try {
        return new Set((JSON.parse(new TextDecoder().decode(json)).images ?? []).map((image) => image.uri));
    } catch {
        return new Set(); // the validator reports what is wrong with it
    }
}

async function validate(file, allowMissingImages) {
    const bytes = new Uint8Array(await readFile(file));
    const images = imageUris(bytes);
    const missingImages = [];
    const report = await validator.validateBytes(bytes, {
        uri: path.basename(file),
        maxIssues: 0,
        writeTimestamp: false,
        externalResourceFunction: async (uri) => {
            try {
                return new Uint8Array(await readFile(path.resolve(path.dirname(file), decodeURIComponent(uri))));
            } catch (error) {
                if (!(allowMissingImages && error.code === 'ENOENT' && images.has(uri)))
                    throw error;
                missingImages.push(uri);
                return new Uint8Array(0);
            }
        },
    });
    const { numErrors, numWarnings, numInfos, numHints, messages } = report.issues;
    console.log(`${file}: ${numErrors} errors, ${numWarnings} warnings, ${numInfos} infos, ${numHints} hints`);
    for (const message of messages)
        console.log(`  ${severityNames[message.severity] ?? message.severity} ${message.code} ${message.pointer ?? ''}: ${message.message}`);
    for (const uri of missingImages)
        console.log(`  missing image, allowed: ${uri}`);
    return numErrors === 0 && (allowMissingImages || numWarnings === 0);
}

const args = process.argv.slice(2);
const allowMissingImages = args[0] === '--allow-missing-images';
const files = allowMissingImages ? args.slice(1) : args;
if (files.length === 0) {
    console.error('usage: node validate.mjs [--allow-missing-images] FILE...');
    process.exit(2);
}
let passed = true;
for (const file of files) {
    try {
        passed = (await validate(file, allowMissingImages)) && passed;
    } catch (error) {
        console.log(`${file}: cannot validate: ${error}`);
        passed = false;
    }
}
process.exit(passed ? 0 : 1);
