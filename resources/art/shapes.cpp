#include "resources/art/shapes.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

double DistanceSquared(Point a, Point b) {
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

}  // namespace

Shape Disc(Point centre, double radius) {
    return [=](double x, double y) { return DistanceSquared({x, y}, centre) <= radius * radius; };
}

Shape Ring(Point centre, double radius, double width) {
    const double inner = radius - width / 2;
    const double outer = radius + width / 2;
    return [=](double x, double y) {
        const double d = DistanceSquared({x, y}, centre);
        return d >= inner * inner && d <= outer * outer;
    };
}

Shape Stroke(Point a, Point b, double width) {
    const double half = width / 2;
    return [=](double x, double y) {
        const double dx = b.x - a.x;
        const double dy = b.y - a.y;
        const double lengthSquared = dx * dx + dy * dy;
        double t = lengthSquared > 0 ? ((x - a.x) * dx + (y - a.y) * dy) / lengthSquared : 0;
        t = std::clamp(t, 0.0, 1.0);
        return DistanceSquared({x, y}, {a.x + t * dx, a.y + t * dy}) <= half * half;
    };
}

Shape RoundRect(double left, double top, double right, double bottom, double radius) {
    return [=](double x, double y) {
        if (x < left || x > right || y < top || y > bottom) {
            return false;
        }
        const double cx = std::clamp(x, left + radius, right - radius);
        const double cy = std::clamp(y, top + radius, bottom - radius);
        return DistanceSquared({x, y}, {cx, cy}) <= radius * radius;
    };
}

Shape RoundRectOutline(double left, double top, double right, double bottom, double radius,
                       double width) {
    return Difference(RoundRect(left, top, right, bottom, radius),
                      RoundRect(left + width, top + width, right - width, bottom - width,
                                std::max(radius - width, 0.0)));
}

Shape Polygon(std::vector<Point> corners) {
    return [corners = std::move(corners)](double x, double y) {
        // Even-odd rule.
        bool inside = false;
        for (size_t i = 0, j = corners.size() - 1; i < corners.size(); j = i++) {
            const Point& a = corners[i];
            const Point& b = corners[j];
            if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) {
                inside = !inside;
            }
        }
        return inside;
    };
}

Shape Union(std::initializer_list<Shape> shapes) {
    return [list = std::vector<Shape>(shapes)](double x, double y) {
        return std::any_of(list.begin(), list.end(), [&](const Shape& s) { return s(x, y); });
    };
}

Shape Difference(Shape shape, Shape cut) {
    return [=](double x, double y) { return shape(x, y) && !cut(x, y); };
}

Shape Intersection(Shape a, Shape b) {
    return [=](double x, double y) { return a(x, y) && b(x, y); };
}
