#include "CKvLensModel.h"

#include "rawlib/settings/KvRecordCursor.h"
#include "rawlib/settings/KvStateIds.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using Projection = CKvLensModel::Projection;

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr int kLast = CKvLensInformation::kTableLength - 1;

// Image radius of a ray at angle theta.
double Radius(Projection p, double theta) {
    switch (p) {
    case Projection::kRectilinear:
        return std::tan(theta);
    case Projection::kEquidistant:
        return theta;
    case Projection::kEquisolid:
        return 2.0 * std::sin(theta / 2.0);
    case Projection::kOrthographic:
        return std::sin(theta);
    case Projection::kStereographic:
        return 2.0 * std::tan(theta / 2.0);
    }
    return theta;
}

// The angle of the ray that lands at image radius r.
double Angle(Projection p, double r) {
    switch (p) {
    case Projection::kRectilinear:
        return std::atan(r);
    case Projection::kEquidistant:
        return r;
    case Projection::kEquisolid:
        return 2.0 * std::asin(std::min(r / 2.0, 1.0));
    case Projection::kOrthographic:
        return std::asin(std::min(r, 1.0));
    case Projection::kStereographic:
        return 2.0 * std::atan(r / 2.0);
    }
    return r;
}

// The widest diagonal field of view, in degrees, over which the projection is defined and one to one.
double WidestField(Projection p) {
    switch (p) {
    case Projection::kRectilinear:
        return 179.0;
    case Projection::kOrthographic:
        return 180.0;
    case Projection::kStereographic:
        return 359.0;
    default:
        return 360.0;
    }
}

std::string CheckView(const char* what, const CKvLensModel::View& view) {
    const double widest = WidestField(view.projection);
    if (!(view.fieldOfView > 0.0 && view.fieldOfView <= widest))
        return std::string("the ") + what + " field of view of a " + CKvLensModel::Name(view.projection) +
               " projection must be above 0 and at most " + std::to_string(static_cast<int>(widest)) +
               " degrees";
    return {};
}

// Output radius u of the view to the source radius of the same ray, both normalised.
double ViewToSource(const CKvLensModel::View& lens, const CKvLensModel::View& view, double u) {
    const double viewHalf = view.fieldOfView / 2.0 * kDegree;
    const double lensHalf = lens.fieldOfView / 2.0 * kDegree;
    const double theta = Angle(view.projection, u * Radius(view.projection, viewHalf));
    return Radius(lens.projection, theta) / Radius(lens.projection, lensHalf);
}

// Source radius s to the output radius of the view, both normalised.
double SourceToView(const CKvLensModel::View& lens, const CKvLensModel::View& view, double s) {
    const double viewHalf = view.fieldOfView / 2.0 * kDegree;
    const double lensHalf = lens.fieldOfView / 2.0 * kDegree;
    const double theta = Angle(lens.projection, s * Radius(lens.projection, lensHalf));
    if (theta >= WidestField(view.projection) / 2.0 * kDegree)
        return CKvLensModel::kBeyondView;
    return std::min(Radius(view.projection, theta) / Radius(view.projection, viewHalf),
                    CKvLensModel::kBeyondView);
}

} // namespace

std::string CKvLensModel::Check(const Parameters& parameters) {
    if (parameters.identity)
        return {};
    for (const auto& [what, view] : {std::pair<const char*, const View&>{"lens", parameters.lens},
                                     {"first view's", parameters.first},
                                     {"second view's", parameters.second}}) {
        if (std::string problem = CheckView(what, view); !problem.empty())
            return problem;
    }
    if (!std::isfinite(parameters.ripple))
        return "the ripple must be a finite number";
    return {};
}

std::array<std::vector<double>, CKvLensInformation::kTableCount>
CKvLensModel::Tables(const Parameters& parameters) {
    std::array<std::vector<double>, CKvLensInformation::kTableCount> tables;
    for (auto& table : tables)
        table.resize(CKvLensInformation::kTableLength);
    for (int i = 0; i <= kLast; ++i) {
        const double u = static_cast<double>(i) / kLast;
        if (parameters.identity) {
            for (auto& table : tables)
                table[i] = u;
            continue;
        }
        const double wave = parameters.ripple * std::sin(10.0 * std::numbers::pi * u);
        tables[CKvLensInformation::kTableA][i] = ViewToSource(parameters.lens, parameters.first, u) + wave;
        tables[CKvLensInformation::kTableB][i] = ViewToSource(parameters.lens, parameters.second, u) + wave;
        tables[CKvLensInformation::kTableC][i] = SourceToView(parameters.lens, parameters.first, u);
        tables[CKvLensInformation::kTableD][i] = SourceToView(parameters.lens, parameters.second, u);
    }
    return tables;
}

std::vector<BYTE> CKvLensModel::FileBytes(const Parameters& parameters) {
    return FileBytes(parameters, Damage());
}

std::vector<BYTE> CKvLensModel::FileBytes(const Parameters& parameters, const Damage& damage) {
    CKvLensInformation information;
    information.SetLensModel(parameters.lensModel);
    const auto tables = Tables(parameters);
    for (int t = 0; t < CKvLensInformation::kTableCount; ++t)
        information.SetTable(static_cast<CKvLensInformation::Table>(t), tables[t].data());
    std::vector<BYTE> bytes(static_cast<std::size_t>(information.GetStateSize()));
    information.WriteState(bytes.data(), static_cast<int>(bytes.size()));
    if (damage.otherId)
        std::copy(KvStateIds::kLensInformation.alternate.begin(),
                  KvStateIds::kLensInformation.alternate.end(), bytes.begin());
    if (damage.version >= 0)
        KvPutValue(bytes.data() + 16, static_cast<std::uint64_t>(damage.version), 2);
    if (damage.length >= 0)
        KvPutValue(bytes.data() + 18, static_cast<std::uint64_t>(damage.length), 4);
    if (damage.cut >= 0 && static_cast<std::size_t>(damage.cut) < bytes.size())
        bytes.resize(static_cast<std::size_t>(damage.cut));
    if (damage.extra > 0)
        bytes.insert(bytes.end(), static_cast<std::size_t>(damage.extra), 0x5A);
    return bytes;
}

const char* CKvLensModel::Name(Projection projection) {
    switch (projection) {
    case Projection::kRectilinear:
        return "rectilinear";
    case Projection::kEquidistant:
        return "equidistant";
    case Projection::kEquisolid:
        return "equisolid";
    case Projection::kOrthographic:
        return "orthographic";
    case Projection::kStereographic:
        return "stereographic";
    }
    return "?";
}

bool CKvLensModel::ParseProjection(const std::string& name, Projection* projection) {
    for (Projection p : {Projection::kRectilinear, Projection::kEquidistant, Projection::kEquisolid,
                         Projection::kOrthographic, Projection::kStereographic}) {
        if (name == Name(p)) {
            *projection = p;
            return true;
        }
    }
    return false;
}
