#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// The wire-frame orb that marks a thread, and three polyhedra built by the same machinery, as
// immutable model-space geometry. Model space: x right, y down the screen, z towards the viewer;
// vertices lie on or inside the unit sphere. Sizes are in the icon's 24-unit design square.
// Everything is double precision and deterministic for a given thread id.

struct ThreadIconVector
{
    double x = 0;
    double y = 0;
    double z = 0;

    bool operator==(const ThreadIconVector &) const = default;
};

struct ThreadIconQuaternion
{
    double w = 1;
    double x = 0;
    double y = 0;
    double z = 0;

    bool operator==(const ThreadIconQuaternion &) const = default;

    static constexpr ThreadIconQuaternion identity() { return {1, 0, 0, 0}; }
};

enum class ThreadIconShape {
    Orb,
    Cube,
    Octahedron,
    Tetrahedron,
};

inline constexpr std::array<ThreadIconShape, 4> allThreadIconShapes{
    ThreadIconShape::Orb, ThreadIconShape::Cube, ThreadIconShape::Octahedron,
    ThreadIconShape::Tetrahedron};

// "orb", "cube", "octahedron", "tetrahedron".
std::string_view rawValue(ThreadIconShape shape);
// Exactly one of the four raw values (case-sensitive); none otherwise.
std::optional<ThreadIconShape> threadIconShape(std::string_view rawValue);

// The rotations and vector helpers of the icon. Every quaternion product is renormalised.
namespace ThreadIconMath {
double dot(ThreadIconVector a, ThreadIconVector b);
ThreadIconVector cross(ThreadIconVector a, ThreadIconVector b);
ThreadIconVector normalized(ThreadIconVector v);
// v + w·t + xyz × t with t = 2·(xyz × v); no normalisation.
ThreadIconVector rotate(ThreadIconQuaternion q, ThreadIconVector v);
// The Hamilton product p·q divided by its norm.
ThreadIconQuaternion product(ThreadIconQuaternion p, ThreadIconQuaternion q);
// The shortest rotation taking unit vector a onto unit vector b; a half turn about an axis
// perpendicular to a when they are opposite.
ThreadIconQuaternion fromTo(ThreadIconVector a, ThreadIconVector b);
// Rotation by theta about +y.
ThreadIconQuaternion yaw(double theta);
// Rotation by -elevation about x.
ThreadIconQuaternion pitch(double elevation);
} // namespace ThreadIconMath

// count values of a xorshift generator seeded by 32-bit FNV-1a over the UTF-16 code units of id.
std::vector<std::uint32_t> threadIconSeededValues(std::u16string_view id, int count);
// A seeded value as a fraction in [0, 1]: (v mod 1000) / 999.
double threadIconFraction(std::uint32_t value);

// The fixed description of a polyhedral shape.
struct ThreadIconPolyhedron
{
    std::vector<ThreadIconVector> vertices;
    std::vector<std::vector<int>> faces; // vertex indices in boundary order
    double projectedRadius = 0;          // design units, before the prominence factor
    ThreadIconQuaternion restOrientation;
    double restYawSpacing = 0; // radians
    double viewElevation = 0;  // radians
};

// The table of a polyhedral shape; none for the orb.
std::optional<ThreadIconPolyhedron> threadIconPolyhedron(ThreadIconShape shape);

// How a ring of the orb tumbles as the projection angle advances.
struct ThreadIconRingTumble
{
    ThreadIconVector axis; // unit, in the ring's plane
    double rate = 0;       // radians of tumble per radian of projection angle, signed
};

// A point of the design square.
struct ThreadIconPoint
{
    double x = 0;
    double y = 0;

    bool operator==(const ThreadIconPoint &) const = default;
};

// One line of the icon after projection.
struct ThreadIconProjectedLine
{
    std::vector<ThreadIconPoint> points; // design space, in the line's order
    bool closed = false;                 // a ring of the orb rather than an open edge
    std::vector<double> pointDepths;     // rotated model z of each point, larger is nearer
    double emphasis = 0;                 // emphasis scale × visibility
    double opacity = 0;
    double depth = 0; // mean of pointDepths; NaN for a line without points
};

class ThreadIconGeometry
{
public:
    // Points per ring of the orb.
    static constexpr int orbRingVertexCount = 60;
    // The camera's distance from the origin, in model units.
    static constexpr double cameraDistance = 2.6;

    // threadID is read only for the orb.
    ThreadIconGeometry(std::u16string_view threadID, ThreadIconShape shape, bool prominent);

    ThreadIconShape shape() const { return m_shape; }
    // Design units per model unit at the projection centre.
    double radius() const { return m_radius; }
    // Design-space y of the model origin (its x is always 12).
    double centerY() const { return m_centerY; }
    double strokeWidth() const { return m_strokeWidth; }
    ThreadIconQuaternion restOrientation() const { return m_restOrientation; }
    // For callers that step between rest poses; the projection does not read it.
    double restYawSpacing() const { return m_restYawSpacing; }
    double viewElevation() const { return m_viewElevation; }
    const std::vector<ThreadIconVector> &vertices() const { return m_vertices; }
    const std::vector<std::vector<int>> &lines() const { return m_lines; }
    // The two planes of each line; the same plane twice for a ring.
    const std::vector<std::pair<int, int>> &linePlanes() const { return m_linePlanes; }
    const std::vector<ThreadIconVector> &planeNormals() const { return m_planeNormals; }
    // Distance from the origin to every face plane; 0 for the orb.
    double planeDistance() const { return m_planeDistance; }
    // Points per ring for the orb, 0 for polyhedra; non-zero marks every line as a closed ring.
    int ringVertexCount() const { return m_ringVertexCount; }
    const std::vector<ThreadIconRingTumble> &ringTumbles() const { return m_ringTumbles; }

    // The lines seen at angle (radians of yaw, and of each ring's tumble times its rate),
    // farthest first; lines of equal depth keep their order.
    std::vector<ThreadIconProjectedLine> projectedLines(double angle, double emphasisScale) const;
    // How strongly a line is emphasised, in [0, 1], given the z component of each plane normal
    // as projected.
    double lineVisibility(std::size_t line, const std::vector<double> &planeFacing) const;
    // The opacity of a line at a mean depth (-1 far, +1 near) with an emphasis: farther lines
    // fade, emphasised ones come forward.
    static double lineOpacity(double depth, double emphasis);

private:
    void buildOrb(std::u16string_view threadID, bool prominent);
    void buildPolyhedron(const ThreadIconPolyhedron &polyhedron, bool prominent);

    ThreadIconShape m_shape;
    double m_radius = 0;
    double m_centerY = 12;
    double m_strokeWidth = 0;
    ThreadIconQuaternion m_restOrientation;
    double m_restYawSpacing = 0;
    double m_viewElevation = 0;
    std::vector<ThreadIconVector> m_vertices;
    std::vector<std::vector<int>> m_lines;
    std::vector<std::pair<int, int>> m_linePlanes;
    std::vector<ThreadIconVector> m_planeNormals;
    double m_planeDistance = 0;
    int m_ringVertexCount = 0;
    std::vector<ThreadIconRingTumble> m_ringTumbles;
};
