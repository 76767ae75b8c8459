#pragma once
#include <string>

// A coordinate reference system for the survey products, as OGC WKT taken
// from PROJ's database (never from a table of our own).
struct SurveyCrs {
    std::string code;  // what the user gave: "EPSG:28992" or a file name
    std::string name;  // PROJ's name of the system
    std::string wkt;   // OGC WKT (WKT1 as GDAL writes it, WKT2 where that has no form)
};

// "EPSG:NNNN" (any case) from PROJ's database, or the name of a file holding
// WKT that PROJ can read as a coordinate reference system. Throws
// InputError naming the code or file when PROJ does not know it.
SurveyCrs resolve_crs(const std::string& spec);
