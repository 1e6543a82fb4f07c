#include "resources/art/palette.h"
#include "resources/art/pictures.h"
#include "resources/art/shapes.h"

// Pictures of 32 x 32: the About box's projector, the warning sign, and the program icon,
// which is the projector on a transparent ground.

namespace {

constexpr int DIALOG_SIZE = 32;

void PaintProjector(Canvas& canvas) {
    canvas.Fill(RoundRect(5, 23, 9.5, 26.8, 1), INK);
    canvas.Fill(RoundRect(22.5, 23, 27, 26.8, 1), INK);
    canvas.Fill(RoundRect(1.5, 8.5, 30.5, 24.5, 3.5), {74, 94, 122});
    canvas.Fill(RoundRect(3, 10, 29, 12.5, 1.2), {104, 126, 156});
    canvas.Fill(Disc({10.5, 16.5}, 6.2), {36, 44, 56});
    canvas.Fill(Disc({10.5, 16.5}, 4.4), {72, 150, 225});
    canvas.Fill(Disc({10.5, 16.5}, 2.2), {30, 95, 170});
    canvas.Fill(Disc({9, 15}, 1.2), WHITE);
    canvas.Fill(Disc({22, 15.5}, 1.3), {130, 220, 110});
    canvas.Fill(Union({Stroke({19.5, 19.5}, {27, 19.5}, 1.2), Stroke({19.5, 22}, {27, 22}, 1.2)}),
                {170, 185, 205});
}

}  // namespace

Canvas DrawAboutPicture() {
    Canvas canvas(DIALOG_SIZE, DIALOG_SIZE, FACE);
    PaintProjector(canvas);
    return canvas;
}

Canvas DrawProgramIcon() {
    Canvas canvas(DIALOG_SIZE, DIALOG_SIZE);
    PaintProjector(canvas);
    return canvas;
}

Canvas DrawWarningPicture() {
    Canvas canvas(DIALOG_SIZE, DIALOG_SIZE, FACE);
    canvas.Fill(Polygon({{16, 1.5}, {31, 29}, {1, 29}}), {196, 128, 0});
    canvas.Fill(Polygon({{16, 4.4}, {28.6, 27.6}, {3.4, 27.6}}), {255, 196, 30});
    canvas.Fill(Union({RoundRect(14.6, 10.5, 17.4, 20.8, 1.4), Disc({16, 24.2}, 1.7)}),
                {40, 40, 40});
    return canvas;
}
