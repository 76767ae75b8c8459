// Reads every public header field of sample.las with las-header, a reader
// nobody here wrote.
// Usage: node read_las_header.js SAMPLE_DIR
// Exit 0: all as expected; 1: a mismatch; 77: the reader is not installed.
'use strict';
const path = require('path');
const {createRequire} = require('module');
const expected = require('./expected_sample.js');

const deps = process.env.POINTFALL_READERS_DIR || '';
let lasHeader;
try {
  lasHeader = createRequire(path.join(deps, 'node_modules', 'x.js'))('las-header');
} catch (e) {
  console.log(`SKIP: las-header is not installed in ${deps} (run tools/install-deps.sh --tests): ${e.message}`);
  process.exit(77);
}

const h = lasHeader.readLocalFile({input: path.join(process.argv[2], 'sample.las')});
const b = expected.bounds;
// Field names as the package spells them (FileSoureceID included).
const want = {
  FileSignature: 'LASF',
  FileSoureceID: 0,
  GlobalEncoding: 0,
  VersionMajor: 1,
  VersionMinor: 2,
  SystemIdentifier: '',
  GeneratingSoftware: 'Pointfall',
  CreationDay: expected.creationDay,
  CreationYear: expected.creationYear,
  HeaderSize: 227,
  OffsetToPointData: 227,
  NumberOfVariableLengthRecords: 0,
  PointDataFormatID: 0,
  PointDataRecordLength: 20,
  NumberOfPoints: expected.pointCount,
  NumberOfPointByReturn: 0,
  ScaleFactorX: 0.01,
  ScaleFactorY: 0.01,
  ScaleFactorZ: 0.01,
  OffsetX: 0,
  OffsetY: 0,
  OffsetZ: 0,
  MaxX: b.maxX,
  MinX: b.minX,
  MaxY: b.maxY,
  MinY: b.minY,
  MaxZ: b.maxZ,
  MinZ: b.minZ,
};

let failures = 0;
for (const [field, value] of Object.entries(want)) {
  // Doubles are stored as written: compare exactly.
  if (h[field] !== value) {
    console.log(`MISMATCH: ${field} read ${JSON.stringify(h[field])}, expected ${JSON.stringify(value)}`);
    failures++;
  }
}
if (failures) {
  console.log(`${failures} header field(s) differ`);
  process.exit(1);
}
console.log(`las-header read all ${Object.keys(want).length} header fields as written`);
