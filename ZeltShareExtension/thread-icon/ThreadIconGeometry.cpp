#include "ThreadIconGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numbers>

namespace {

using namespace ThreadIconMath;

constexpr double pi = std::numbers::pi;
// cos(π/2) as a double: the scalar part of a half turn.
constexpr double cosHalfPi = 6.123233995736766e-17;
constexpr double degrees30 = 0.5235987755982989;
constexpr double degrees55 = 0.9599310885968813;
constexpr double degrees15 = 0.2617993877991494;
constexpr double degrees14 = 0.24434609527920614;

// 1/√3, the coordinate of a unit-sphere cube corner; computed once, on first use.
double inverseSquareRootOf3()
{
    static const double value = 1.0 / std::sqrt(3.0);
    return value;
}

// How far a ring may turn from facing the viewer and still be emphasised: cos 30°.
double emphasisCosine()
{
    static const double value = std::cos(pi / 6.0);
    return value;
}

ThreadIconVector operator+(ThreadIconVector a, ThreadIconVector b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}

ThreadIconVector operator-(ThreadIconVector a, ThreadIconVector b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

ThreadIconVector operator*(ThreadIconVector v, double s)
{
    return {v.x * s, v.y * s, v.z * s};
}

ThreadIconVector operator*(double s, ThreadIconVector v)
{
    return {s * v.x, s * v.y, s * v.z};
}

[[noreturn]] void badTable(const char *what)
{
    std::fprintf(stderr, "thread icon: inconsistent polyhedron table: %s\n", what);
    std::abort();
}

ThreadIconQuaternion restOrientationFor(ThreadIconShape shape)
{
    const double s = inverseSquareRootOf3();
    ThreadIconQuaternion q0;
    ThreadIconVector r;
    if (shape == ThreadIconShape::Octahedron) {
        q0 = {cosHalfPi, 0, 0, -1};
        r = {0, 0, 1};
    } else {
        const ThreadIconVector n{s, s, s};
        q0 = fromTo(n, {0, -1, 0});
        const ThreadIconVector p = shape == ThreadIconShape::Cube ? ThreadIconVector{1, -1, -1}
                                                                  : ThreadIconVector{-1, 1, 1};
        r = normalized(p - n * dot(p, n));
    }
    const ThreadIconVector turned = rotate(q0, r);
    return product(yaw(-std::atan2(turned.x, turned.z)), q0);
}

} // namespace

namespace ThreadIconMath {

double dot(ThreadIconVector a, ThreadIconVector b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

ThreadIconVector cross(ThreadIconVector a, ThreadIconVector b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

ThreadIconVector normalized(ThreadIconVector v)
{
    const double length = std::sqrt(dot(v, v));
    return {v.x / length, v.y / length, v.z / length};
}

ThreadIconVector rotate(ThreadIconQuaternion q, ThreadIconVector v)
{
    const ThreadIconVector axis{q.x, q.y, q.z};
    const ThreadIconVector t = 2.0 * cross(axis, v);
    return v + q.w * t + cross(axis, t);
}

ThreadIconQuaternion product(ThreadIconQuaternion p, ThreadIconQuaternion q)
{
    const ThreadIconQuaternion r{
        p.w * q.w - p.x * q.x - p.y * q.y - p.z * q.z,
        p.w * q.x + p.x * q.w + p.y * q.z - p.z * q.y,
        p.w * q.y - p.x * q.z + p.y * q.w + p.z * q.x,
        p.w * q.z + p.x * q.y - p.y * q.x + p.z * q.w,
    };
    const double norm = std::sqrt(r.w * r.w + r.x * r.x + r.y * r.y + r.z * r.z);
    return {r.w / norm, r.x / norm, r.y / norm, r.z / norm};
}

ThreadIconQuaternion fromTo(ThreadIconVector a, ThreadIconVector b)
{
    const ThreadIconVector c = cross(a, b);
    const double d = std::clamp(dot(a, b), -1.0, 1.0);
    const double s = std::sqrt(dot(c, c));
    if (s < 1e-9) {
        if (d > 0)
            return ThreadIconQuaternion::identity();
        const ThreadIconVector helper =
            std::abs(a.x) < 0.9 ? ThreadIconVector{1, 0, 0} : ThreadIconVector{0, 1, 0};
        const ThreadIconVector axis = normalized(cross(a, helper));
        return {cosHalfPi, axis.x, axis.y, axis.z};
    }
    const ThreadIconVector axis{c.x / s, c.y / s, c.z / s};
    const double theta = std::atan2(s, d);
    const double sine = std::sin(theta / 2);
    return {std::cos(theta / 2), axis.x * sine, axis.y * sine, axis.z * sine};
}

ThreadIconQuaternion yaw(double theta)
{
    return {std::cos(theta / 2), 0, std::sin(theta / 2), 0};
}

ThreadIconQuaternion pitch(double elevation)
{
    return {std::cos(elevation / 2), -std::sin(elevation / 2), 0, 0};
}

} // namespace ThreadIconMath

std::string_view rawValue(ThreadIconShape shape)
{
    switch (shape) {
    case ThreadIconShape::Orb:
        return "orb";
    case ThreadIconShape::Cube:
        return "cube";
    case ThreadIconShape::Octahedron:
        return "octahedron";
    case ThreadIconShape::Tetrahedron:
        return "tetrahedron";
    }
    return {};
}

std::optional<ThreadIconShape> threadIconShape(std::string_view raw)
{
    for (const ThreadIconShape shape : allThreadIconShapes) {
        if (rawValue(shape) == raw)
            return shape;
    }
    return std::nullopt;
}

std::vector<std::uint32_t> threadIconSeededValues(std::u16string_view id, int count)
{
    std::uint32_t h = 0x811C9DC5u;
    for (const char16_t unit : id) {
        h ^= std::uint32_t(unit);
        h *= 0x01000193u;
    }
    if (!id.empty() && h == 0)
        h = 0x9E3779B9u;

    std::vector<std::uint32_t> values;
    values.reserve(std::size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        h ^= h << 13;
        h ^= h >> 17;
        h ^= h << 5;
        values.push_back(h);
    }
    return values;
}

double threadIconFraction(std::uint32_t value)
{
    return double(value % 1000u) / 999.0;
}

std::optional<ThreadIconPolyhedron> threadIconPolyhedron(ThreadIconShape shape)
{
    const double s = inverseSquareRootOf3();
    ThreadIconPolyhedron polyhedron;
    switch (shape) {
    case ThreadIconShape::Orb:
        return std::nullopt;
    case ThreadIconShape::Cube:
        for (int i = 0; i < 8; ++i) {
            polyhedron.vertices.push_back({(i & 1) ? s : -s, (i & 2) ? s : -s, (i & 4) ? s : -s});
        }
        polyhedron.faces = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4},
                            {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
        polyhedron.projectedRadius = 10.6;
        polyhedron.restYawSpacing = 2.0943951023931953;
        polyhedron.viewElevation = 0;
        break;
    case ThreadIconShape::Octahedron:
        polyhedron.vertices = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
        polyhedron.faces = {{0, 2, 4}, {0, 2, 5}, {0, 3, 4}, {0, 3, 5},
                            {1, 2, 4}, {1, 2, 5}, {1, 3, 4}, {1, 3, 5}};
        polyhedron.projectedRadius = 10.6;
        polyhedron.restYawSpacing = 1.5707963267948966;
        polyhedron.viewElevation = degrees14;
        break;
    case ThreadIconShape::Tetrahedron:
        polyhedron.vertices = {{s, s, s}, {s, -s, -s}, {-s, s, -s}, {-s, -s, s}};
        polyhedron.faces = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
        polyhedron.projectedRadius = 11.0;
        polyhedron.restYawSpacing = 2.0943951023931953;
        polyhedron.viewElevation = degrees14;
        break;
    }
    polyhedron.restOrientation = restOrientationFor(shape);
    return polyhedron;
}

ThreadIconGeometry::ThreadIconGeometry(std::u16string_view threadID, ThreadIconShape shape,
                                       bool prominent)
    : m_shape(shape)
    , m_strokeWidth(prominent ? 1.2 : 0.92)
{
    if (const auto polyhedron = threadIconPolyhedron(shape))
        buildPolyhedron(*polyhedron, prominent);
    else
        buildOrb(threadID, prominent);
}

void ThreadIconGeometry::buildOrb(std::u16string_view threadID, bool prominent)
{
    const auto v = threadIconSeededValues(threadID, 13);
    const auto t = [&v](int index) { return threadIconFraction(v[std::size_t(index % 13)]); };
    const double baseAzimuth = t(0) * pi * 2;

    struct Ring
    {
        ThreadIconVector normal;
        ThreadIconVector axis;
        double rate;
        double scale;
    };
    std::vector<Ring> rings{{{0, 0, 1}, {0, 1, 0}, 0, 1.0}};
    constexpr std::array<double, 3> rates{1.0, 2.0, 1.0};
    for (int j = 0; j < 3; ++j) {
        const int b = 4 + 4 * j;
        const double tilt = t(b - 3) * degrees30 + degrees55;
        const double azimuth =
            baseAzimuth + (double(j) / 3) * pi * 2 + (t(b - 2) * 2 - 1) * degrees15;
        const ThreadIconVector n{std::sin(tilt) * std::cos(azimuth),
                                 std::sin(tilt) * std::sin(azimuth), std::cos(tilt)};
        const ThreadIconVector h = normalized({-n.z, 0, n.x});
        const double gamma = (t(b - 1) * 2 - 1) * pi / 4;
        const ThreadIconVector u = h * std::cos(gamma) + cross(n, h) * std::sin(gamma);
        const double rate = t(b) < 0.5 ? rates[std::size_t(j)] : -rates[std::size_t(j)];
        rings.push_back({n, u, rate, 0.92});
    }

    for (int k = 0; k < int(rings.size()); ++k) {
        const Ring &ring = rings[std::size_t(k)];
        m_planeNormals.push_back(ring.normal);
        m_ringTumbles.push_back({ring.axis, ring.rate});
        const ThreadIconVector w = cross(ring.normal, ring.axis);
        std::vector<int> line;
        for (int m = 0; m < orbRingVertexCount; ++m) {
            const double theta = (double(m) / orbRingVertexCount) * pi * 2;
            m_vertices.push_back(ring.scale * (ring.axis * std::cos(theta) + w * std::sin(theta)));
            line.push_back(k * orbRingVertexCount + m);
        }
        m_lines.push_back(std::move(line));
        m_linePlanes.emplace_back(k, k);
    }

    m_radius = prominent ? 9.5 * 1.15 : 9.5;
    m_restOrientation = ThreadIconQuaternion::identity();
    m_restYawSpacing = pi;
    m_viewElevation = 0;
    m_planeDistance = 0;
    m_ringVertexCount = orbRingVertexCount;
    m_centerY = 12;
}

void ThreadIconGeometry::buildPolyhedron(const ThreadIconPolyhedron &polyhedron, bool prominent)
{
    m_vertices = polyhedron.vertices;

    // Edges in order of first sighting, walking each face's boundary, with the faces they bound.
    std::vector<std::pair<int, int>> edges;
    std::vector<std::vector<int>> edgeFaces;
    for (int f = 0; f < int(polyhedron.faces.size()); ++f) {
        const auto &face = polyhedron.faces[std::size_t(f)];
        if (face.size() < 3)
            badTable("a face with fewer than three vertices");
        for (std::size_t j = 0; j < face.size(); ++j) {
            const int a = face[j];
            const int b = face[(j + 1) % face.size()];
            const std::pair<int, int> edge{std::min(a, b), std::max(a, b)};
            const auto found = std::find(edges.begin(), edges.end(), edge);
            if (found == edges.end()) {
                edges.push_back(edge);
                edgeFaces.push_back({f});
            } else {
                edgeFaces[std::size_t(found - edges.begin())].push_back(f);
            }
        }
    }
    for (std::size_t e = 0; e < edges.size(); ++e) {
        if (edgeFaces[e].size() != 2)
            badTable("an edge without exactly two faces");
        m_lines.push_back({edges[e].first, edges[e].second});
        m_linePlanes.emplace_back(edgeFaces[e][0], edgeFaces[e][1]);
    }

    for (const auto &face : polyhedron.faces) {
        const double weight = 1.0 / double(face.size());
        ThreadIconVector sum;
        for (const int index : face)
            sum = sum + m_vertices[std::size_t(index)] * weight;
        m_planeNormals.push_back(normalized(sum));
    }
    m_planeDistance = dot(m_planeNormals[0], m_vertices[std::size_t(polyhedron.faces[0][0])]);

    m_radius = polyhedron.projectedRadius * (prominent ? 1.15 : 1.0);
    m_restOrientation = polyhedron.restOrientation;
    m_restYawSpacing = polyhedron.restYawSpacing;
    m_viewElevation = polyhedron.viewElevation;
    m_ringVertexCount = 0;

    // Centre the shape's vertical extent at rest on the middle of the design square.
    ThreadIconQuaternion q = product(ThreadIconQuaternion::identity(), m_restOrientation);
    if (m_viewElevation != 0)
        q = product(pitch(m_viewElevation), q);
    double minY = std::numeric_limits<double>::infinity();
    double maxY = -std::numeric_limits<double>::infinity();
    for (const auto &vertex : m_vertices) {
        const ThreadIconVector p = rotate(q, vertex);
        const double y = m_radius * p.y * cameraDistance / (cameraDistance - p.z);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    m_centerY = 12 - (maxY + minY) / 2;
}

std::vector<ThreadIconProjectedLine> ThreadIconGeometry::projectedLines(double angle,
                                                                        double emphasisScale) const
{
    ThreadIconQuaternion q = product(yaw(angle), m_restOrientation);
    if (m_viewElevation != 0)
        q = product(pitch(m_viewElevation), q);

    std::vector<ThreadIconQuaternion> ringOrientations;
    for (const auto &tumble : m_ringTumbles) {
        if (tumble.rate == 0) {
            ringOrientations.push_back(q);
            continue;
        }
        const double h = angle * tumble.rate * 0.5;
        const double sine = std::sin(h);
        ringOrientations.push_back(product(
            q, {std::cos(h), tumble.axis.x * sine, tumble.axis.y * sine, tumble.axis.z * sine}));
    }

    std::vector<ThreadIconPoint> points;
    std::vector<double> depths;
    points.reserve(m_vertices.size());
    depths.reserve(m_vertices.size());
    for (std::size_t i = 0; i < m_vertices.size(); ++i) {
        const ThreadIconQuaternion &orientation =
            m_ringVertexCount != 0 ? ringOrientations[i / std::size_t(m_ringVertexCount)] : q;
        const ThreadIconVector p = rotate(orientation, m_vertices[i]);
        const double f = m_radius * cameraDistance / (cameraDistance - p.z);
        points.push_back({p.x * f + 12, m_centerY + p.y * f});
        depths.push_back(p.z);
    }

    std::vector<double> planeFacing;
    for (std::size_t k = 0; k < m_planeNormals.size(); ++k) {
        const ThreadIconQuaternion &orientation =
            k < ringOrientations.size() ? ringOrientations[k] : q;
        planeFacing.push_back(rotate(orientation, m_planeNormals[k]).z);
    }

    std::vector<ThreadIconProjectedLine> projected;
    projected.reserve(m_lines.size());
    for (std::size_t l = 0; l < m_lines.size(); ++l) {
        ThreadIconProjectedLine line;
        double sum = 0;
        for (const int index : m_lines[l]) {
            line.points.push_back(points[std::size_t(index)]);
            line.pointDepths.push_back(depths[std::size_t(index)]);
            sum += depths[std::size_t(index)];
        }
        line.closed = m_ringVertexCount != 0;
        line.depth = sum / double(line.pointDepths.size());
        const double visibility = lineVisibility(l, planeFacing);
        line.emphasis = emphasisScale * visibility;
        line.opacity = lineOpacity(line.depth, line.emphasis);
        projected.push_back(std::move(line));
    }

    // Farthest first, so nearer lines are drawn over farther ones. A line without points (NaN
    // depth) draws nothing; it goes first so that the order stays well defined.
    std::stable_sort(projected.begin(), projected.end(),
                     [](const ThreadIconProjectedLine &a, const ThreadIconProjectedLine &b) {
                         if (std::isnan(a.depth) || std::isnan(b.depth))
                             return std::isnan(a.depth) && !std::isnan(b.depth);
                         return a.depth < b.depth;
                     });
    return projected;
}

double ThreadIconGeometry::lineOpacity(double depth, double emphasis)
{
    const double base = std::pow((depth + 1) * 0.5, 1.5) * 0.84 + 0.16;
    return base + emphasis * (1 - base);
}

double ThreadIconGeometry::lineVisibility(std::size_t line,
                                          const std::vector<double> &planeFacing) const
{
    const auto [a, b] = m_linePlanes[line];
    if (m_shape != ThreadIconShape::Orb) {
        const bool aFaces = m_planeDistance < cameraDistance * planeFacing[std::size_t(a)];
        const bool bFaces = m_planeDistance < cameraDistance * planeFacing[std::size_t(b)];
        return aFaces != bFaces ? 1.0 : 0.0;
    }
    const double k = emphasisCosine();
    const double t = std::min((std::abs(planeFacing[std::size_t(a)]) - k) / (1 - k), 1.0);
    return t >= 0 ? t : 0.0;
}
