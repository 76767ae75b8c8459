// What the readers must find in the files that make_reader_samples writes.
'use strict';

module.exports = {
  // LAS records: metres truncated toward zero to whole centimetres.
  lasPoints: [
    [1.5, 2.25, 3.0],
    [447512.34, 5447512.34, 12.34],
    [-0.28, 0.02, -12.5],
    [100.0, -200.0, 0.0],
  ],
  // Header bounds start from points[0] (1.4, 2.3, 3.1) and take the exact
  // returns.
  bounds: {maxX: 447512.345, minX: -0.29, maxY: 5447512.349, minY: -200.0, maxZ: 12.345, minZ: -12.5},
  pointCount: 4,
  creationDay: 60,  // 29 February 2024
  creationYear: 2024,
};
