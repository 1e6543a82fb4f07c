#include "resources/art/palette.h"
#include "resources/art/pictures.h"
#include "resources/art/shapes.h"

// Menu pictures, 18 x 18. A stateful item is a round badge around a small glyph: "on" is a
// filled accent disc with a white glyph, "off" a hollow grey ring with a grey glyph, so the
// current choice stands out at a glance.

namespace {

constexpr int MENU_SIZE = 18;
constexpr Point CENTRE{9, 9};

Canvas Badge(const Shape& glyph, bool on) {
    Canvas canvas(MENU_SIZE, MENU_SIZE, FACE);
    if (on) {
        canvas.Fill(Disc(CENTRE, 8.5), ACCENT);
        canvas.Fill(glyph, WHITE);
    } else {
        canvas.Fill(Disc(CENTRE, 8.5), WHITE);
        canvas.Fill(Ring(CENTRE, 8, 1), OFF_RING);
        canvas.Fill(glyph, OFF_GLYPH);
    }
    return canvas;
}

// A power symbol: a ring open at the top and a stroke through the gap.
Shape PowerSymbol(Point centre, double radius, double width) {
    const Shape gap = Polygon({centre,
                               {centre.x - radius * 0.75, centre.y - radius * 1.6},
                               {centre.x + radius * 0.75, centre.y - radius * 1.6}});
    return Union({Difference(Ring(centre, radius, width), gap),
                  Stroke({centre.x, centre.y - radius - 0.3}, {centre.x, centre.y - 0.4}, width)});
}

// A magnifier with a plus in its lens.
Shape Magnifier(Point lens, double radius) {
    const double handle = radius * 0.72;
    const double arm = radius * 0.48;
    return Union({Ring(lens, radius, 1.5),
                  Stroke({lens.x + handle + 0.5, lens.y + handle + 0.5},
                         {lens.x + handle + 3.1, lens.y + handle + 3.1}, 2.2),
                  Stroke({lens.x - arm, lens.y}, {lens.x + arm, lens.y}, 1.2),
                  Stroke({lens.x, lens.y - arm}, {lens.x, lens.y + arm}, 1.2)});
}

// The digit one as a stem with a flag.
Shape One(double x) {
    return Union({Stroke({x, 5}, {x, 13}, 1.6), Stroke({x - 1.5, 6.5}, {x, 5}, 1.3)});
}

}  // namespace

Canvas DrawDisplayModeTop() {
    Canvas canvas(MENU_SIZE, MENU_SIZE, FACE);
    canvas.Fill(RoundRect(1.5, 2.5, 16.5, 12.5, 1.5), INK);
    canvas.Fill(RoundRect(3, 4, 15, 11, 0.5), ACCENT_LIGHT);
    canvas.Fill(Polygon({{7.5, 12.5}, {10.5, 12.5}, {11, 15}, {7, 15}}), INK);
    canvas.Fill(Stroke({5.5, 15.5}, {12.5, 15.5}, 1.5), INK);
    return canvas;
}

Canvas DrawPowerModeTop() {
    Canvas canvas(MENU_SIZE, MENU_SIZE, FACE);
    canvas.Fill(PowerSymbol({9, 10}, 6, 2), POWER_GREEN);
    return canvas;
}

Canvas DrawAboutTop() {
    Canvas canvas(MENU_SIZE, MENU_SIZE, FACE);
    canvas.Fill(Disc(CENTRE, 8), ACCENT);
    canvas.Fill(Union({Disc({9, 5.2}, 1.3), RoundRect(8, 7.5, 10, 13.6, 0.6)}), WHITE);
    return canvas;
}

Canvas DrawMirror(bool on) {
    // Two triangles facing each other across the mirror line.
    return Badge(
        Union({Polygon({{3.8, 5.6}, {7.6, 9}, {3.8, 12.4}}),
               Polygon({{14.2, 5.6}, {10.4, 9}, {14.2, 12.4}}), Stroke({9, 4.2}, {9, 13.8}, 1.1)}),
        on);
}

Canvas Draw800x600(bool on) {
    // A 4:3 screen.
    return Badge(RoundRectOutline(4.3, 5.5, 13.7, 12.5, 1, 1.4), on);
}

Canvas DrawOriginal(bool on) {
    // "1:1".
    return Badge(Union({One(5.9), Disc({9.1, 7.2}, 1.05), Disc({9.1, 10.8}, 1.05), One(12.7)}), on);
}

Canvas DrawZoom1(bool on) {
    return Badge(Magnifier({8, 8}, 3.3), on);
}

Canvas DrawZoom2(bool on) {
    // The Zoom 1 magnifier with a second plus beside it.
    return Badge(Union({Magnifier({7.4, 8.6}, 3), Stroke({11.6, 5.2}, {14.2, 5.2}, 1.1),
                        Stroke({12.9, 3.9}, {12.9, 6.5}, 1.1)}),
                 on);
}

Canvas DrawAutoPower(bool on) {
    return Badge(PowerSymbol({9, 9.7}, 4.2, 1.6), on);
}

Canvas DrawEco(bool on) {
    // A leaf: the lens of two discs along one diagonal, its vein cut along the other.
    const Shape leaf = Intersection(Disc({11.6, 11.6}, 6.2), Disc({6.4, 6.4}, 6.2));
    return Badge(Union({Difference(leaf, Stroke({6.2, 11.8}, {11.3, 6.7}, 0.9)),
                        Stroke({3.9, 14.1}, {6.2, 11.8}, 1.2)}),
                 on);
}

namespace {

// A flag on its pole, the shape whose mirror images tell the four flips apart at a glance.
Shape Flag(double pole, double top, double bottom, double reach) {
    const double foot = top + reach * 0.95;
    return Union(
        {Stroke({pole, top}, {pole, bottom}, 1.4),
         Polygon({{pole + 0.4, top - 0.3}, {pole + reach, (top + foot) / 2}, {pole + 0.4, foot}})});
}

// The shape mirrored left to right, upside down, or both, about the picture's centre.
Shape Flipped(const Shape& shape, bool horizontal, bool vertical) {
    return [=](double x, double y) {
        return shape(horizontal ? MENU_SIZE - x : x, vertical ? MENU_SIZE - y : y);
    };
}

// Three strokes crossing at the centre.
Shape Snowflake() {
    return Union({Stroke({9, 3.4}, {9, 14.6}, 1.3), Stroke({4.15, 6.2}, {13.85, 11.8}, 1.3),
                  Stroke({4.15, 11.8}, {13.85, 6.2}, 1.3), Disc(CENTRE, 1.3)});
}

}  // namespace

Canvas DrawFlipTop() {
    // The flag and its mirror image across a grey axis.
    Canvas canvas(MENU_SIZE, MENU_SIZE, FACE);
    const Shape flag = Flag(3.4, 3.8, 14.2, 4.6);
    canvas.Fill(Stroke({9, 2}, {9, 16}, 0.8), OFF_RING);
    canvas.Fill(flag, INK);
    canvas.Fill(Flipped(flag, true, false), ACCENT);
    return canvas;
}

Canvas DrawFreeze(bool on) {
    return Badge(Snowflake(), on);
}

Canvas DrawBlank(bool on) {
    // A screen filled in.
    return Badge(RoundRect(4.2, 5.4, 13.8, 12.6, 1), on);
}

Canvas DrawFlip(bool horizontal, bool vertical, bool on) {
    return Badge(Flipped(Flag(6.8, 4.6, 13.4, 5), horizontal, vertical), on);
}

Canvas DrawOneWindow(bool on) {
    // A window: its frame, and its title bar filled in.
    return Badge(Union({RoundRectOutline(4, 4.8, 14, 13.2, 1, 1.3), RoundRect(4, 4.8, 14, 7.4, 1)}),
                 on);
}
