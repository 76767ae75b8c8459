#include "products/crs.h"

#include "app/failure.h"
#include "terrain/text_scan.h"

#include <QString>
#include <proj.h>

#include <cctype>
#include <memory>

namespace {

struct ContextDeleter {
    void operator()(PJ_CONTEXT* c) const { proj_context_destroy(c); }
};
struct PjDeleter {
    void operator()(PJ* p) const { proj_destroy(p); }
};
using Context = std::unique_ptr<PJ_CONTEXT, ContextDeleter>;
using Object = std::unique_ptr<PJ, PjDeleter>;

bool is_crs(const PJ* object) {
    switch (proj_get_type(object)) {
    case PJ_TYPE_GEOGRAPHIC_CRS:
    case PJ_TYPE_GEOCENTRIC_CRS:
    case PJ_TYPE_GEOGRAPHIC_2D_CRS:
    case PJ_TYPE_GEOGRAPHIC_3D_CRS:
    case PJ_TYPE_VERTICAL_CRS:
    case PJ_TYPE_PROJECTED_CRS:
    case PJ_TYPE_COMPOUND_CRS:
    case PJ_TYPE_TEMPORAL_CRS:
    case PJ_TYPE_ENGINEERING_CRS:
    case PJ_TYPE_BOUND_CRS:
    case PJ_TYPE_OTHER_CRS: return true;
    default: return false;
    }
}

SurveyCrs describe(PJ_CONTEXT* context, const PJ* crs, const std::string& spec) {
    SurveyCrs out;
    out.code = spec;
    if (const char* name = proj_get_name(crs)) out.name = name;
    const char* const options[] = {"MULTILINE=NO", nullptr};
    const char* wkt = proj_as_wkt(context, crs, PJ_WKT1_GDAL, options);
    if (!wkt) wkt = proj_as_wkt(context, crs, PJ_WKT2_2019, options);
    if (!wkt) throw InputError("Coordinate reference system \"" + spec + "\": PROJ cannot write it as WKT.");
    out.wkt = wkt;
    return out;
}

}  // namespace

SurveyCrs resolve_crs(const std::string& spec) {
    Context context(proj_context_create());
    if (!context) throw InputError("Coordinate reference system \"" + spec + "\": PROJ could not be started.");
    proj_log_level(context.get(), PJ_LOG_NONE);

    std::string upper;
    for (char c : spec) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.compare(0, 5, "EPSG:") == 0) {
        const std::string code = spec.substr(5);
        bool digits = !code.empty() && code.size() <= 9;
        for (char c : code) digits = digits && std::isdigit(static_cast<unsigned char>(c));
        Object crs(digits ? proj_create_from_database(context.get(), "EPSG", code.c_str(), PJ_CATEGORY_CRS, 0,
                                                      nullptr)
                          : nullptr);
        if (!crs)
            throw InputError("Unknown coordinate reference system \"" + spec +
                             "\": PROJ's database has no EPSG code " + code + ".");
        return describe(context.get(), crs.get(), spec);
    }

    std::string text;
    if (!terrain_text::read_whole_file(QString::fromStdString(spec), text))
        throw InputError("Unknown coordinate reference system \"" + spec +
                         "\": give EPSG:NNNN or the name of a file holding WKT.");
    while (!text.empty() && terrain_text::is_space(text.back())) text.pop_back();
    PROJ_STRING_LIST warnings = nullptr;
    PROJ_STRING_LIST errors = nullptr;
    Object crs(proj_create_from_wkt(context.get(), text.c_str(), nullptr, &warnings, &errors));
    std::string why = "PROJ does not read it as WKT";
    if (errors && errors[0]) why += std::string(" (") + errors[0] + ")";
    proj_string_list_destroy(warnings);
    proj_string_list_destroy(errors);
    if (!crs || !is_crs(crs.get()))
        throw InputError("Coordinate reference system file \"" + spec + "\": " +
                         (crs ? std::string("the WKT is not a coordinate reference system") : why) + ".");
    return describe(context.get(), crs.get(), spec);
}
