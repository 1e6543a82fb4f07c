#pragma once

#include <initializer_list>
#include <vector>

#include "resources/art/canvas.h"

// The primitives the pictures are drawn with, and their combinations.

struct Point {
    double x;
    double y;
};

Shape Disc(Point centre, double radius);
// A circle's outline, width wide, centred on the radius.
Shape Ring(Point centre, double radius, double width);
// A stroke from a to b with round ends.
Shape Stroke(Point a, Point b, double width);
Shape RoundRect(double left, double top, double right, double bottom, double radius);
// A rectangle's outline, width wide inside its edges, with rounded corners.
Shape RoundRectOutline(double left, double top, double right, double bottom, double radius,
                       double width);
Shape Polygon(std::vector<Point> corners);

Shape Union(std::initializer_list<Shape> shapes);
Shape Difference(Shape shape, Shape cut);
Shape Intersection(Shape a, Shape b);
