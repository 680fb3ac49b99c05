// The orb and polyhedra of the thread icons: seeded values, rotations, construction and
// projection, against known values.

#include "thread-icon/ThreadIconGeometry.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace ThreadIconMath;

Q_DECLARE_METATYPE(ThreadIconShape)
Q_DECLARE_METATYPE(ThreadIconQuaternion)
Q_DECLARE_METATYPE(ThreadIconVector)

using namespace Qt::StringLiterals;

namespace {

std::u16string_view view(const QString &text)
{
    const QStringView v(text);
    return {v.utf16(), std::size_t(v.size())};
}

QList<std::uint32_t> toList(const std::vector<std::uint32_t> &values)
{
    return {values.begin(), values.end()};
}

bool near(double a, double b, double tolerance)
{
    return std::abs(a - b) <= tolerance;
}

QByteArray describe(const ThreadIconVector &v)
{
    return QByteArray::number(v.x, 'g', 17) + ", " + QByteArray::number(v.y, 'g', 17) + ", " +
           QByteArray::number(v.z, 'g', 17);
}

#define COMPARE_VECTOR(actual, expected, tolerance)                                                \
    QVERIFY2(near((actual).x, (expected).x, tolerance) &&                                          \
                 near((actual).y, (expected).y, tolerance) &&                                      \
                 near((actual).z, (expected).z, tolerance),                                        \
             describe(actual).constData())

std::vector<std::pair<int, int>> edgesOf(const ThreadIconGeometry &geometry)
{
    std::vector<std::pair<int, int>> edges;
    for (const auto &line : geometry.lines())
        edges.emplace_back(line.at(0), line.at(1));
    return edges;
}

} // namespace

class TestThreadIconGeometry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void seededValues_data();
    void seededValues();
    void fractionSpansZeroToOne();
    void shapeRawValues_data();
    void shapeRawValues();
    void fromTo_data();
    void fromTo();
    void productIsNormalised();

    void restOrientation_data();
    void restOrientation();
    void polyhedronEdgesAndPlanes_data();
    void polyhedronEdgesAndPlanes();
    void centerY_data();
    void centerY();

    void orbOfAbc();
    void orbLayout();
    void sameInputSameGeometry();
    void orbProminenceChangesOnlySize();

    void orbAtAngleZero();
    void ringsTumbleOnlyAwayFromAngleZero();
    void lineOpacity_data();
    void lineOpacity();
    void polyhedronSilhouettes();
    void orbVisibilityWindow_data();
    void orbVisibilityWindow();
    void sortedFarthestFirst();
};

void TestThreadIconGeometry::seededValues_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QList<std::uint32_t>>("values");

    QTest::newRow("abc") << u"abc"_s << QList<std::uint32_t>{0x0BB9ADB8u, 0xFFD8E55Fu, 0x8D1DE826u};
    QTest::newRow("empty") << QString()
                           << QList<std::uint32_t>{0x4622A677u, 0x4F65AF21u, 0xAABFBE41u};
    // Whole UTF-16 code units, not UTF-8 bytes; a character outside the BMP is two units.
    QTest::newRow("e acute") << QString(QChar(0xE9))
                             << QList<std::uint32_t>{0x31FE7C25u, 0x312EC018u, 0xCC9B254Eu};
    QTest::newRow("surrogate pair") << QString::fromUtf8("\xF0\x9F\x98\x80")
                                    << QList<std::uint32_t>{0x8771100Bu, 0x0B7474D3u, 0x382492A4u};
}

void TestThreadIconGeometry::seededValues()
{
    QFETCH(QString, id);
    QFETCH(QList<std::uint32_t>, values);
    QCOMPARE(toList(threadIconSeededValues(view(id), 3)), values);
    // A longer run starts with the same values.
    QCOMPARE(toList(threadIconSeededValues(view(id), 13)).mid(0, 3), values);
    QVERIFY(threadIconSeededValues(view(id), 0).empty());
}

void TestThreadIconGeometry::fractionSpansZeroToOne()
{
    QCOMPARE(threadIconFraction(0), 0.0);
    QCOMPARE(threadIconFraction(999), 1.0);
    QCOMPARE(threadIconFraction(1000), 0.0);
    QCOMPARE(threadIconFraction(0xFFFFFFFFu), 295.0 / 999);
}

void TestThreadIconGeometry::shapeRawValues_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<int>("shape"); // -1: none

    QTest::newRow("orb") << u"orb"_s << int(ThreadIconShape::Orb);
    QTest::newRow("cube") << u"cube"_s << int(ThreadIconShape::Cube);
    QTest::newRow("octahedron") << u"octahedron"_s << int(ThreadIconShape::Octahedron);
    QTest::newRow("tetrahedron") << u"tetrahedron"_s << int(ThreadIconShape::Tetrahedron);
    QTest::newRow("capitalised") << u"Orb"_s << -1;
    QTest::newRow("other word") << u"sphere"_s << -1;
    QTest::newRow("empty") << QString() << -1;
}

void TestThreadIconGeometry::shapeRawValues()
{
    QFETCH(QString, raw);
    QFETCH(int, shape);
    const auto parsed = threadIconShape(raw.toStdString());
    QCOMPARE(parsed ? int(*parsed) : -1, shape);
    if (parsed)
        QCOMPARE(QString::fromStdString(std::string(rawValue(*parsed))), raw);
}

void TestThreadIconGeometry::fromTo_data()
{
    QTest::addColumn<ThreadIconVector>("a");
    QTest::addColumn<ThreadIconVector>("b");
    QTest::addColumn<ThreadIconQuaternion>("expected");

    QTest::newRow("same") << ThreadIconVector{0, 0, 1} << ThreadIconVector{0, 0, 1}
                          << ThreadIconQuaternion{1, 0, 0, 0};
    // Opposite: a half turn about a × (1, 0, 0), or a × (0, 1, 0) when a is nearly along x.
    QTest::newRow("opposite, y") << ThreadIconVector{0, 1, 0} << ThreadIconVector{0, -1, 0}
                                 << ThreadIconQuaternion{6.123233995736766e-17, 0, 0, -1};
    QTest::newRow("opposite, x") << ThreadIconVector{1, 0, 0} << ThreadIconVector{-1, 0, 0}
                                 << ThreadIconQuaternion{6.123233995736766e-17, 0, 0, 1};
    QTest::newRow("quarter turn") << ThreadIconVector{1, 0, 0} << ThreadIconVector{0, 1, 0}
                                  << ThreadIconQuaternion{std::cos(M_PI / 4), 0, 0,
                                                          std::sin(M_PI / 4)};
}

void TestThreadIconGeometry::fromTo()
{
    QFETCH(ThreadIconVector, a);
    QFETCH(ThreadIconVector, b);
    QFETCH(ThreadIconQuaternion, expected);
    const ThreadIconQuaternion q = ThreadIconMath::fromTo(a, b);
    QCOMPARE(q.w, expected.w);
    QCOMPARE(q.x, expected.x);
    QCOMPARE(q.y, expected.y);
    QCOMPARE(q.z, expected.z);
    COMPARE_VECTOR(rotate(q, a), b, 1e-15);
}

void TestThreadIconGeometry::productIsNormalised()
{
    const ThreadIconQuaternion q = product({2, 0, 0, 0}, {0, 0, 3, 0});
    QCOMPARE(q, (ThreadIconQuaternion{0, 0, 1, 0}));
    // Rotation about y by +90° takes +z to +x.
    COMPARE_VECTOR(rotate(yaw(M_PI / 2), ThreadIconVector{0, 0, 1}), (ThreadIconVector{1, 0, 0}),
                   1e-15);
    // Pitch by +e turns about x by -e, as seen from above: the near side moves down the screen.
    COMPARE_VECTOR(rotate(pitch(0.3), ThreadIconVector{0, 0, 1}),
                   (ThreadIconVector{0, std::sin(0.3), std::cos(0.3)}), 1e-15);
}

void TestThreadIconGeometry::restOrientation_data()
{
    QTest::addColumn<ThreadIconShape>("shape");
    QTest::addColumn<ThreadIconQuaternion>("expected");

    QTest::newRow("cube") << ThreadIconShape::Cube
                          << ThreadIconQuaternion{0.06000300064686598, 0.7045563426109882,
                                                  -0.45576803893928247, 0.5406250962371622};
    QTest::newRow("octahedron") << ThreadIconShape::Octahedron
                                << ThreadIconQuaternion{6.123233995736766e-17, 0, 0, -1};
    QTest::newRow("tetrahedron") << ThreadIconShape::Tetrahedron
                                 << ThreadIconQuaternion{0.45576803893928247, 0.5406250962371622,
                                                         0.06000300064686599, -0.7045563426109882};
}

void TestThreadIconGeometry::restOrientation()
{
    QFETCH(ThreadIconShape, shape);
    QFETCH(ThreadIconQuaternion, expected);
    const ThreadIconQuaternion q = ThreadIconGeometry(u"", shape, false).restOrientation();
    constexpr double tolerance = 4 * std::numeric_limits<double>::epsilon();
    QVERIFY2(near(q.w, expected.w, tolerance) && near(q.x, expected.x, tolerance) &&
                 near(q.y, expected.y, tolerance) && near(q.z, expected.z, tolerance),
             qPrintable(QStringLiteral("%1 %2 %3 %4")
                            .arg(q.w, 0, 'g', 17)
                            .arg(q.x, 0, 'g', 17)
                            .arg(q.y, 0, 'g', 17)
                            .arg(q.z, 0, 'g', 17)));
    QCOMPARE(threadIconPolyhedron(shape)->restOrientation, q);
}

void TestThreadIconGeometry::polyhedronEdgesAndPlanes_data()
{
    using Edges = std::vector<std::pair<int, int>>;
    QTest::addColumn<ThreadIconShape>("shape");
    QTest::addColumn<Edges>("edges");
    QTest::addColumn<Edges>("faces");
    QTest::addColumn<double>("planeDistance");

    QTest::newRow("cube") << ThreadIconShape::Cube
                          << Edges{{0, 1}, {1, 3}, {2, 3}, {0, 2}, {4, 5}, {5, 7},
                                   {6, 7}, {4, 6}, {1, 5}, {0, 4}, {3, 7}, {2, 6}}
                          << Edges{{0, 2}, {0, 5}, {0, 3}, {0, 4}, {1, 2}, {1, 5},
                                   {1, 3}, {1, 4}, {2, 5}, {2, 4}, {3, 5}, {3, 4}}
                          << 0.5773502691896258;
    QTest::newRow("octahedron") << ThreadIconShape::Octahedron
                                << Edges{{0, 2}, {2, 4}, {0, 4}, {2, 5}, {0, 5}, {0, 3},
                                         {3, 4}, {3, 5}, {1, 2}, {1, 4}, {1, 5}, {1, 3}}
                                << Edges{{0, 1}, {0, 4}, {0, 2}, {1, 5}, {1, 3}, {2, 3},
                                         {2, 6}, {3, 7}, {4, 5}, {4, 6}, {5, 7}, {6, 7}}
                                << 0.5773502691896258;
    QTest::newRow("tetrahedron") << ThreadIconShape::Tetrahedron
                                 << Edges{{0, 1}, {1, 2}, {0, 2}, {1, 3}, {0, 3}, {2, 3}}
                                 << Edges{{0, 1}, {0, 3}, {0, 2}, {1, 3}, {1, 2}, {2, 3}}
                                 << 1.0 / 3;
}

void TestThreadIconGeometry::polyhedronEdgesAndPlanes()
{
    using Edges = std::vector<std::pair<int, int>>;
    QFETCH(ThreadIconShape, shape);
    QFETCH(Edges, edges);
    QFETCH(Edges, faces);
    QFETCH(double, planeDistance);

    const ThreadIconGeometry geometry(u"ignored", shape, true);
    QVERIFY(edgesOf(geometry) == edges);
    QVERIFY(geometry.linePlanes() == faces);
    QCOMPARE(geometry.planeNormals().size(), threadIconPolyhedron(shape)->faces.size());
    QVERIFY(near(geometry.planeDistance(), planeDistance, 1e-15));
    for (const auto &normal : geometry.planeNormals())
        QVERIFY(near(dot(normal, normal), 1, 1e-15));
    QCOMPARE(geometry.ringVertexCount(), 0);
    QVERIFY(geometry.ringTumbles().empty());
}

void TestThreadIconGeometry::centerY_data()
{
    QTest::addColumn<ThreadIconShape>("shape");
    QTest::addColumn<bool>("prominent");
    QTest::addColumn<double>("radius");
    QTest::addColumn<double>("centerY");

    QTest::newRow("cube") << ThreadIconShape::Cube << false << 10.6 << 12.0;
    QTest::newRow("cube, prominent") << ThreadIconShape::Cube << true << 10.6 * 1.15 << 12.0;
    QTest::newRow("octahedron") << ThreadIconShape::Octahedron << false << 10.6
                                << 12.965357521600161;
    QTest::newRow("octahedron, prominent")
        << ThreadIconShape::Octahedron << true << 12.19 << 13.110161149840188;
    QTest::newRow("tetrahedron") << ThreadIconShape::Tetrahedron << false << 11.0
                                 << 15.070261844293391;
    QTest::newRow("tetrahedron, prominent")
        << ThreadIconShape::Tetrahedron << true << 12.65 << 15.530801120937397;
    QTest::newRow("orb") << ThreadIconShape::Orb << false << 9.5 << 12.0;
    QTest::newRow("orb, prominent") << ThreadIconShape::Orb << true << 10.924999999999999 << 12.0;
}

void TestThreadIconGeometry::centerY()
{
    QFETCH(ThreadIconShape, shape);
    QFETCH(bool, prominent);
    QFETCH(double, radius);
    QFETCH(double, centerY);
    const ThreadIconGeometry geometry(u"abc", shape, prominent);
    QVERIFY(near(geometry.radius(), radius, 1e-12));
    QVERIFY2(near(geometry.centerY(), centerY, 1e-12),
             QByteArray::number(geometry.centerY(), 'g', 17).constData());
    QCOMPARE(geometry.strokeWidth(), prominent ? 1.2 : 0.92);
}

void TestThreadIconGeometry::orbOfAbc()
{
    const ThreadIconGeometry orb(u"abc", ThreadIconShape::Orb, true);
    const auto &normals = orb.planeNormals();
    const auto &tumbles = orb.ringTumbles();
    QCOMPARE(normals.size(), 4u);
    QCOMPARE(tumbles.size(), 4u);

    COMPARE_VECTOR(normals[0], (ThreadIconVector{0, 0, 1}), 0);
    COMPARE_VECTOR(tumbles[0].axis, (ThreadIconVector{0, 1, 0}), 0);
    QCOMPARE(tumbles[0].rate, 0.0);

    COMPARE_VECTOR(normals[1], (ThreadIconVector{0.952396, 0.013229, 0.304577}), 1e-6);
    COMPARE_VECTOR(tumbles[1].axis, (ThreadIconVector{-0.304777, 0.065201, 0.950189}), 1e-6);
    QCOMPARE(tumbles[1].rate, -1.0);
    COMPARE_VECTOR(normals[2], (ThreadIconVector{-0.271753, 0.833248, 0.481506}), 1e-6);
    QCOMPARE(tumbles[2].rate, -2.0);
    COMPARE_VECTOR(normals[3], (ThreadIconVector{-0.632075, -0.748883, 0.199137}), 1e-6);
    QCOMPARE(tumbles[3].rate, 1.0);

    // Every tumble axis lies in its ring's plane.
    for (std::size_t k = 0; k < 4; ++k)
        QVERIFY(near(dot(normals[k], tumbles[k].axis), 0, 1e-15));
}

void TestThreadIconGeometry::orbLayout()
{
    const ThreadIconGeometry orb(u"", ThreadIconShape::Orb, false);
    QCOMPARE(orb.vertices().size(), 240u);
    QCOMPARE(orb.lines().size(), 4u);
    QCOMPARE(orb.ringVertexCount(), 60);
    QCOMPARE(orb.planeDistance(), 0.0);
    QCOMPARE(orb.restOrientation(), ThreadIconQuaternion::identity());
    QCOMPARE(orb.restYawSpacing(), M_PI);
    QCOMPARE(orb.viewElevation(), 0.0);
    for (int k = 0; k < 4; ++k) {
        const auto &line = orb.lines()[std::size_t(k)];
        QCOMPARE(line.size(), 60u);
        for (int m = 0; m < 60; ++m)
            QCOMPARE(line[std::size_t(m)], 60 * k + m);
        QCOMPARE(orb.linePlanes()[std::size_t(k)], std::make_pair(k, k));
        // Ring 0 is the unit circle facing the viewer; the tilted rings are a little smaller.
        const double scale = k == 0 ? 1.0 : 0.92;
        for (int m = 0; m < 60; ++m) {
            const auto &p = orb.vertices()[std::size_t(60 * k + m)];
            QVERIFY(near(std::sqrt(dot(p, p)), scale, 1e-15));
            QVERIFY(near(dot(p, orb.planeNormals()[std::size_t(k)]), 0, 1e-15));
        }
    }
    // The first point of each ring lies on its tumble axis.
    COMPARE_VECTOR(orb.vertices()[0], (ThreadIconVector{0, 1, 0}), 0);
}

void TestThreadIconGeometry::sameInputSameGeometry()
{
    for (const ThreadIconShape shape : allThreadIconShapes) {
        const ThreadIconGeometry a(u"thread-1", shape, true);
        const ThreadIconGeometry b(u"thread-1", shape, true);
        QVERIFY(a.vertices() == b.vertices());
        QVERIFY(a.planeNormals() == b.planeNormals());
        QCOMPARE(a.centerY(), b.centerY());
    }
    // Different ids give different orbs.
    QVERIFY(ThreadIconGeometry(u"thread-1", ThreadIconShape::Orb, true).vertices() !=
            ThreadIconGeometry(u"thread-2", ThreadIconShape::Orb, true).vertices());
}

void TestThreadIconGeometry::orbProminenceChangesOnlySize()
{
    const ThreadIconGeometry plain(u"abc", ThreadIconShape::Orb, false);
    const ThreadIconGeometry prominent(u"abc", ThreadIconShape::Orb, true);
    QVERIFY(plain.vertices() == prominent.vertices());
    QVERIFY(plain.planeNormals() == prominent.planeNormals());
    QCOMPARE(plain.radius(), 9.5);
    QCOMPARE(prominent.radius(), 10.924999999999999);
    QCOMPARE(plain.strokeWidth(), 0.92);
    QCOMPARE(prominent.strokeWidth(), 1.2);
}

void TestThreadIconGeometry::orbAtAngleZero()
{
    const ThreadIconGeometry orb(u"abc", ThreadIconShape::Orb, true);
    const auto lines = orb.projectedLines(0, 1);
    QCOMPARE(lines.size(), 4u);
    for (const auto &line : lines) {
        QVERIFY(line.closed);
        QCOMPARE(line.points.size(), 60u);
    }

    // The front circle: a circle of the orb's radius around (12, 12), fully emphasised.
    const auto front = std::find_if(lines.begin(), lines.end(),
                                    [](const auto &line) { return line.emphasis == 1; });
    QVERIFY(front != lines.end());
    QCOMPARE(front->opacity, 1.0);
    double minX = 24;
    double maxX = 0;
    for (const auto &p : front->points) {
        QVERIFY(near(std::hypot(p.x - 12, p.y - 12), 10.924999999999999, 1e-12));
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
    }
    QVERIFY(near(minX, 1.075, 1e-12));
    QVERIFY(near(maxX, 22.925, 1e-12));

    // The tilted rings are not emphasised; centred on the origin, they sit at depth 0.
    int tilted = 0;
    for (const auto &line : lines) {
        if (&line == &*front)
            continue;
        ++tilted;
        QCOMPARE(line.emphasis, 0.0);
        QVERIFY(near(line.depth, 0, 1e-15));
        QVERIFY(near(line.opacity, 0.45698484809834994, 1e-14));
    }
    QCOMPARE(tilted, 3);
}

void TestThreadIconGeometry::ringsTumbleOnlyAwayFromAngleZero()
{
    const ThreadIconGeometry orb(u"abc", ThreadIconShape::Orb, false);
    // Ring k seen under q alone, without its own tumble.
    const auto untumbled = [&orb](ThreadIconQuaternion q, std::size_t k) {
        std::vector<ThreadIconPoint> points;
        for (std::size_t m = 0; m < 60; ++m) {
            const ThreadIconVector p = rotate(q, orb.vertices()[60 * k + m]);
            const double f = orb.radius() * 2.6 / (2.6 - p.z);
            points.push_back({p.x * f + 12, orb.centerY() + p.y * f});
        }
        return points;
    };
    const auto ringsMatching = [&](double angle) {
        const auto lines = orb.projectedLines(angle, 1);
        std::vector<std::size_t> rings;
        for (std::size_t k = 0; k < 4; ++k) {
            for (const auto &line : lines) {
                if (line.points == untumbled(product(yaw(angle), orb.restOrientation()), k))
                    rings.push_back(k);
            }
        }
        return rings;
    };

    // At angle 0 every ring has the global orientation, whatever its rate.
    QCOMPARE(ringsMatching(0), (std::vector<std::size_t>{0, 1, 2, 3}));
    // Turned, only the front circle (rate 0) follows the yaw alone.
    QCOMPARE(ringsMatching(0.7), (std::vector<std::size_t>{0}));
}

void TestThreadIconGeometry::lineOpacity_data()
{
    QTest::addColumn<double>("depth");
    QTest::addColumn<double>("emphasis");
    QTest::addColumn<double>("opacity");

    QTest::newRow("far, plain") << -1.0 << 0.0 << 0.16;
    QTest::newRow("near, plain") << 1.0 << 0.0 << 1.0;
    QTest::newRow("middle, plain") << 0.0 << 0.0 << 0.45698484809834994;
    QTest::newRow("far, emphasised") << -1.0 << 1.0 << 1.0;
    QTest::newRow("far, half") << -1.0 << 0.5 << 0.58;
}

void TestThreadIconGeometry::lineOpacity()
{
    QFETCH(double, depth);
    QFETCH(double, emphasis);
    QFETCH(double, opacity);
    QVERIFY(near(ThreadIconGeometry::lineOpacity(depth, emphasis), opacity, 1e-15));
}

void TestThreadIconGeometry::polyhedronSilhouettes()
{
    // A cube seen straight along its rest orientation: an edge is emphasised exactly when one
    // of its two faces faces the camera.
    for (const ThreadIconShape shape :
         {ThreadIconShape::Cube, ThreadIconShape::Octahedron, ThreadIconShape::Tetrahedron}) {
        const ThreadIconGeometry geometry(u"", shape, false);
        const std::size_t faces = geometry.planeNormals().size();
        for (std::size_t a = 0; a < faces; ++a) {
            std::vector<double> facing(faces, -1); // every face turned away
            QCOMPARE(geometry.lineVisibility(0, facing), 0.0);
            const auto [first, second] = geometry.linePlanes()[0];
            facing[std::size_t(first)] = 1;
            QCOMPARE(geometry.lineVisibility(0, facing), 1.0);
            facing[std::size_t(second)] = 1;
            QCOMPARE(geometry.lineVisibility(0, facing), 0.0);
        }
        // Facing means the plane is nearer than the camera sees it edge-on: distance < 2.6·nz.
        std::vector<double> facing(faces, geometry.planeDistance() / 2.6);
        const auto [first, second] = geometry.linePlanes()[0];
        facing[std::size_t(second)] = -1;
        QCOMPARE(geometry.lineVisibility(0, facing), 0.0);
        facing[std::size_t(first)] = std::nextafter(geometry.planeDistance() / 2.6, 1.0);
        QCOMPARE(geometry.lineVisibility(0, facing), 1.0);
    }
}

void TestThreadIconGeometry::orbVisibilityWindow_data()
{
    QTest::addColumn<double>("facing");
    QTest::addColumn<double>("visibility");

    QTest::newRow("facing") << 1.0 << 1.0;
    QTest::newRow("facing away") << -1.0 << 1.0;
    QTest::newRow("edge-on") << 0.0 << 0.0;
    QTest::newRow("at 30 degrees") << 0.8660254037844387 << 0.0;
    QTest::newRow("beyond 30 degrees") << 0.5736 << 0.0;
    QTest::newRow("halfway") << (1 + 0.8660254037844387) / 2 << 0.5;
}

void TestThreadIconGeometry::orbVisibilityWindow()
{
    QFETCH(double, facing);
    QFETCH(double, visibility);
    const ThreadIconGeometry orb(u"abc", ThreadIconShape::Orb, true);
    std::vector<double> planeFacing(4, 0);
    planeFacing[2] = facing;
    QVERIFY(near(orb.lineVisibility(2, planeFacing), visibility, 1e-12));
}

void TestThreadIconGeometry::sortedFarthestFirst()
{
    for (const ThreadIconShape shape : allThreadIconShapes) {
        const ThreadIconGeometry geometry(u"abc", shape, true);
        for (const double angle : {0.0, 0.4, 1.3, 2.9}) {
            const auto lines = geometry.projectedLines(angle, 1);
            QCOMPARE(lines.size(), geometry.lines().size());
            for (std::size_t i = 1; i < lines.size(); ++i)
                QVERIFY(lines[i - 1].depth <= lines[i].depth);
        }
    }
}

QTEST_APPLESS_MAIN(TestThreadIconGeometry)
#include "tst_threadicongeometry.moc"
