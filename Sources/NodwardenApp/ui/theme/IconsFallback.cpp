#include <NodwardenApp/ui/theme/IconsFallback.hpp>

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <numbers>
#include <utility>
#include <vector>

namespace nodwarden::app::detail {

namespace {

// Every drawing works on a 24 × 24 grid; the canvas scales it to the requested size.
constexpr double grid = 24.0;

class Canvas {
public:
    Canvas(QPainter& painter, QColor color) : p_(painter), color_(std::move(color)) {}

    void stroke(const QPainterPath& path, double width = 2.0, Qt::PenStyle style = Qt::SolidLine) {
        QPen pen(color_, width, style, Qt::RoundCap, Qt::RoundJoin);
        p_.setPen(pen);
        p_.setBrush(Qt::NoBrush);
        p_.drawPath(path);
    }
    void fill(const QPainterPath& path) {
        p_.setPen(Qt::NoPen);
        p_.setBrush(color_);
        p_.drawPath(path);
    }
    /// Cuts `path` out of what was drawn so far (the drawing is made on its own transparent layer).
    void cut(const QPainterPath& path, double width = 0) {
        p_.save();
        p_.setCompositionMode(QPainter::CompositionMode_Clear);
        if (width > 0) {
            p_.setPen(QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p_.setBrush(Qt::NoBrush);
        } else {
            p_.setPen(Qt::NoPen);
            p_.setBrush(Qt::black);
        }
        p_.drawPath(path);
        p_.restore();
    }
    void shape(const QPainterPath& path, bool filled, double width = 2.0) {
        filled ? fill(path) : stroke(path, width);
    }

private:
    QPainter& p_;
    QColor color_;
};

QPainterPath polyline(std::initializer_list<QPointF> points) {
    QPainterPath path;
    bool first = true;
    for (const QPointF& point : points) {
        first ? path.moveTo(point) : path.lineTo(point);
        first = false;
    }
    return path;
}

QPainterPath polygon(std::initializer_list<QPointF> points) {
    QPainterPath path = polyline(points);
    path.closeSubpath();
    return path;
}

QPainterPath circle(double cx, double cy, double r) {
    QPainterPath path;
    path.addEllipse(QPointF(cx, cy), r, r);
    return path;
}

QPainterPath roundedRect(double x, double y, double w, double h, double r) {
    QPainterPath path;
    path.addRoundedRect(QRectF(x, y, w, h), r, r);
    return path;
}

QPainterPath star(double cx, double cy, double r) {
    QPainterPath path;
    path.moveTo(cx, cy - r);
    path.quadTo(cx, cy, cx + r, cy);
    path.quadTo(cx, cy, cx, cy + r);
    path.quadTo(cx, cy, cx - r, cy);
    path.quadTo(cx, cy, cx, cy - r);
    return path;
}

QPainterPath crescent() {
    return circle(11, 13, 8.5).subtracted(circle(16, 8.5, 7));
}

QPainterPath checkmark() {
    return polyline({{7.5, 12.5}, {10.8, 15.8}, {16.8, 8.8}});
}

QPainterPath shield() {
    QPainterPath path;
    path.moveTo(12, 2);
    path.lineTo(20, 5);
    path.lineTo(20, 11);
    path.quadTo(20, 18, 12, 22);
    path.quadTo(4, 18, 4, 11);
    path.lineTo(4, 5);
    path.closeSubpath();
    return path;
}

QPainterPath bolt() {
    return polygon({{14, 2}, {5, 13.5}, {11.5, 13.5}, {10, 22}, {19, 10}, {12.5, 10}});
}

QPainterPath seal() {
    QPolygonF points;
    for (int i = 0; i < 24; ++i) {
        const double angle = i * std::numbers::pi / 12;
        const double radius = i % 2 == 0 ? 10.5 : 9.0;
        points << QPointF(12 + radius * std::cos(angle), 12 + radius * std::sin(angle));
    }
    QPainterPath path;
    path.addPolygon(points);
    path.closeSubpath();
    return path;
}

void drawMoon(Canvas& c, bool filled, bool zzz) {
    c.shape(crescent(), filled, 1.8);
    if (zzz) {
        c.stroke(polyline({{15.5, 2.5}, {20.5, 2.5}, {15.5, 7.5}, {20.5, 7.5}}), 1.6);
    }
}

void drawEye(Canvas& c, bool filled) {
    QPainterPath almond;
    almond.moveTo(2, 12);
    almond.quadTo(12, 1.5, 22, 12);
    almond.quadTo(12, 22.5, 2, 12);
    if (filled) {
        c.fill(almond);
        c.cut(circle(12, 12, 4.2));
        c.fill(circle(12, 12, 2.4));
    } else {
        c.stroke(almond, 1.8);
        c.fill(circle(12, 12, 3.4));
    }
}

void drawHourglass(Canvas& c) {
    c.stroke(polygon({{6.5, 3}, {17.5, 3}, {12, 12}, {17.5, 21}, {6.5, 21}, {12, 12}}), 1.8);
    c.stroke(polyline({{5, 3}, {19, 3}}), 2);
    c.stroke(polyline({{5, 21}, {19, 21}}), 2);
    c.fill(polygon({{8.5, 19.5}, {15.5, 19.5}, {12, 15}}));
}

void drawStopwatch(Canvas& c) {
    c.stroke(circle(12, 13.5, 8), 1.8);
    c.stroke(polyline({{10, 2.5}, {14, 2.5}}), 2);
    c.stroke(polyline({{12, 2.5}, {12, 5.5}}), 2);
    c.stroke(polyline({{12, 13.5}, {15, 9.5}}), 2);
}

void drawBattery(Canvas& c, int percent) {
    c.stroke(roundedRect(2, 7, 17.5, 10, 2.5), 1.6);
    c.fill(roundedRect(20.5, 10, 2, 4, 0.8));
    const double level = 13.5 * std::clamp(percent, 0, 100) / 100.0;
    c.fill(roundedRect(4, 9, std::max(level, 1.5), 6, 1.2));
}

void drawThermometer(Canvas& c, bool high) {
    c.stroke(roundedRect(9.5, 2.5, 5, 13, 2.5), 1.6);
    c.fill(circle(12, 18, 4));
    c.stroke(polyline({{12, 17}, {12, high ? 5.5 : 11}}), 2.2);
    c.stroke(polyline({{17, 5}, {19.5, 5}}), 1.4);
    c.stroke(polyline({{17, 8.5}, {19.5, 8.5}}), 1.4);
}

void drawPlug(Canvas& c, bool filled) {
    c.stroke(polyline({{9, 2.5}, {9, 8}}), 2);
    c.stroke(polyline({{15, 2.5}, {15, 8}}), 2);
    QPainterPath body;
    body.moveTo(5.5, 8);
    body.lineTo(18.5, 8);
    body.lineTo(18.5, 12);
    body.quadTo(18.5, 17, 12, 17);
    body.quadTo(5.5, 17, 5.5, 12);
    body.closeSubpath();
    c.shape(body, filled, 1.8);
    c.stroke(polyline({{12, 17}, {12, 22}}), 2);
}

void drawWarningTriangle(Canvas& c, bool filled) {
    QPainterPath triangle = polygon({{12, 2.5}, {22.5, 20.5}, {1.5, 20.5}});
    QPainterPath bar = polyline({{12, 9}, {12, 14}});
    QPainterPath dot = circle(12, 17.4, 1.3);
    if (filled) {
        c.fill(triangle);
        c.cut(bar, 2.4);
        c.cut(dot);
    } else {
        c.stroke(triangle, 1.8);
        c.stroke(bar, 2.2);
        c.fill(dot);
    }
}

void drawSparkles(Canvas& c) {
    c.fill(star(10, 13.5, 8));
    c.fill(star(18.5, 5, 4));
    c.fill(star(19, 19, 3));
}

void drawCode(Canvas& c) {
    c.stroke(polyline({{7, 7}, {2, 12}, {7, 17}}), 2);
    c.stroke(polyline({{17, 7}, {22, 12}, {17, 17}}), 2);
    c.stroke(polyline({{14, 4}, {10, 20}}), 2);
}

void drawGlobe(Canvas& c) {
    c.stroke(circle(12, 12, 9.5), 1.6);
    QPainterPath meridian;
    meridian.addEllipse(QPointF(12, 12), 4, 9.5);
    c.stroke(meridian, 1.4);
    c.stroke(polyline({{2.5, 12}, {21.5, 12}}), 1.4);
    c.stroke(polyline({{4, 7}, {20, 7}}), 1.2);
    c.stroke(polyline({{4, 17}, {20, 17}}), 1.2);
}

void drawTerminal(Canvas& c, bool filled) {
    QPainterPath frame = roundedRect(2, 4, 20, 16, 3);
    QPainterPath prompt = polyline({{6, 9}, {9, 12}, {6, 15}});
    QPainterPath cursor = polyline({{11, 15}, {16, 15}});
    if (filled) {
        c.fill(frame);
        c.cut(prompt, 1.8);
        c.cut(cursor, 1.8);
    } else {
        c.stroke(frame, 1.6);
        c.stroke(prompt, 1.8);
        c.stroke(cursor, 1.8);
    }
}

void drawGear(Canvas& c) {
    QPainterPath teeth;
    for (int i = 0; i < 8; ++i) {
        const double angle = i * std::numbers::pi / 4;
        teeth.moveTo(12 + 6.5 * std::cos(angle), 12 + 6.5 * std::sin(angle));
        teeth.lineTo(12 + 10 * std::cos(angle), 12 + 10 * std::sin(angle));
    }
    c.stroke(teeth, 3.2);
    c.fill(circle(12, 12, 7.5));
    c.cut(circle(12, 12, 3));
}

void drawPower(Canvas& c) {
    QPainterPath arc;
    const QRectF box(4, 4.5, 16, 16);
    arc.arcMoveTo(box, 125);
    arc.arcTo(box, 125, 290);
    c.stroke(arc, 2);
    c.stroke(polyline({{12, 2.5}, {12, 11}}), 2);
}

void drawSeal(Canvas& c, bool filled) {
    if (filled) {
        c.fill(seal());
        c.cut(checkmark(), 2.2);
    } else {
        c.stroke(seal(), 1.5);
        c.stroke(checkmark(), 2);
    }
}

void drawCheckCircle(Canvas& c, bool filled) {
    if (filled) {
        c.fill(circle(12, 12, 10));
        c.cut(checkmark(), 2.2);
    } else {
        c.stroke(circle(12, 12, 9.5), 1.6);
        c.stroke(checkmark(), 2);
    }
}

void drawMagnifier(Canvas& c, double scale, QPointF offset) {
    QPainterPath lens;
    lens.addEllipse(QPointF(offset.x() + 10 * scale, offset.y() + 10 * scale), 6.5 * scale,
                    6.5 * scale);
    c.stroke(lens, 2 * scale);
    c.stroke(polyline({{offset.x() + 15 * scale, offset.y() + 15 * scale},
                       {offset.x() + 21 * scale, offset.y() + 21 * scale}}),
             3 * scale);
}

void drawDocument(Canvas& c) {
    c.stroke(roundedRect(4, 2.5, 13, 18, 2), 1.6);
    c.stroke(polyline({{7, 7}, {14, 7}}), 1.4);
    c.stroke(polyline({{7, 10.5}, {12, 10.5}}), 1.4);
    drawMagnifier(c, 0.55, {11, 11});
}

void drawLaptop(Canvas& c) {
    c.stroke(roundedRect(5, 5, 14, 10, 1.5), 1.6);
    c.stroke(polyline({{2, 18.5}, {22, 18.5}}), 2.4);
}

void drawCounterclockwiseArrow(Canvas& c) {
    QPainterPath arc;
    const QRectF box(4, 4, 16, 16);
    arc.arcMoveTo(box, 100);
    arc.arcTo(box, 100, -290);
    c.stroke(arc, 2);
    c.fill(polygon({{6.5, 4.4}, {11.8, 1.2}, {11.8, 7.6}}));
}

void drawCup(Canvas& c, bool filled) {
    QPainterPath body;
    body.moveTo(3.5, 9);
    body.lineTo(17.5, 9);
    body.lineTo(16.5, 17.5);
    body.quadTo(16.2, 20.5, 13.5, 20.5);
    body.lineTo(7.5, 20.5);
    body.quadTo(4.8, 20.5, 4.5, 17.5);
    body.closeSubpath();
    c.shape(body, filled, 1.8);
    QPainterPath handle;
    handle.arcMoveTo(QRectF(14.5, 10.5, 7, 6.5), 90);
    handle.arcTo(QRectF(14.5, 10.5, 7, 6.5), 90, -180);
    c.stroke(handle, 1.8);
    QPainterPath steam;
    for (const double x : {8.0, 12.5}) {
        steam.moveTo(x, 7);
        steam.quadTo(x - 1.5, 5, x, 4);
        steam.quadTo(x + 1.5, 3, x, 1.5);
    }
    c.stroke(steam, 1.4);
}

void drawChip(Canvas& c) {
    c.stroke(roundedRect(6, 6, 12, 12, 2), 1.8);
    c.fill(roundedRect(9.5, 9.5, 5, 5, 1));
    QPainterPath pins;
    for (const double at : {9.0, 12.0, 15.0}) {
        pins.moveTo(at, 2.5);
        pins.lineTo(at, 6);
        pins.moveTo(at, 18);
        pins.lineTo(at, 21.5);
        pins.moveTo(2.5, at);
        pins.lineTo(6, at);
        pins.moveTo(18, at);
        pins.lineTo(21.5, at);
    }
    c.stroke(pins, 1.4);
}

void drawBars(Canvas& c, bool axis) {
    c.fill(roundedRect(4, 12, 4, 8, 1));
    c.fill(roundedRect(10, 7, 4, 13, 1));
    c.fill(roundedRect(16, 3, 4, 17, 1));
    if (axis) {
        c.stroke(polyline({{2, 21.5}, {22, 21.5}}), 1.6);
    }
}

void drawTools(Canvas& c) {
    c.stroke(polyline({{4, 20}, {13.5, 10.5}}), 3);
    QPainterPath head;
    head.arcMoveTo(QRectF(12, 3, 9, 9), 200);
    head.arcTo(QRectF(12, 3, 9, 9), 200, 250);
    c.stroke(head, 2);
    c.stroke(polyline({{5, 4}, {19.5, 18.5}}), 2);
    c.fill(roundedRect(17, 16, 5, 5, 1.5));
}

void drawShield(Canvas& c, bool filled, bool lock, bool withBolt) {
    if (filled) {
        c.fill(shield());
        if (lock) {
            c.cut(roundedRect(8.5, 11, 7, 6, 1));
        }
    } else {
        c.stroke(shield(), 1.6);
        if (lock) {
            c.fill(roundedRect(8.5, 11, 7, 6, 1));
            QPainterPath shackle;
            shackle.arcMoveTo(QRectF(9.5, 7, 5, 7), 0);
            shackle.arcTo(QRectF(9.5, 7, 5, 7), 0, 180);
            c.stroke(shackle, 1.5);
        }
        if (withBolt) {
            c.fill(
                polygon({{13, 6}, {8.5, 12.5}, {11.5, 12.5}, {10.5, 18}, {15.5, 11}, {12.5, 11}}));
        }
    }
}

void drawTrash(Canvas& c) {
    c.stroke(polyline({{4, 6}, {20, 6}}), 1.8);
    c.stroke(polyline({{9.5, 6}, {9.5, 3}, {14.5, 3}, {14.5, 6}}), 1.6);
    c.stroke(polygon({{6, 6}, {18, 6}, {17, 21}, {7, 21}}), 1.6);
    c.stroke(polyline({{10, 10}, {10, 17}}), 1.4);
    c.stroke(polyline({{14, 10}, {14, 17}}), 1.4);
}

void drawWaveform(Canvas& c) {
    c.stroke(polyline({{2, 12}, {7, 12}, {9, 6}, {12, 18}, {15, 8}, {17, 12}, {22, 12}}), 1.8);
}

void drawSwapArrows(Canvas& c) {
    c.stroke(polyline({{3, 8}, {20, 8}}), 1.8);
    c.stroke(polyline({{16, 4}, {20, 8}, {16, 12}}), 1.8);
    c.stroke(polyline({{21, 16}, {4, 16}}), 1.8);
    c.stroke(polyline({{8, 12}, {4, 16}, {8, 20}}), 1.8);
}

void drawDownCircle(Canvas& c) {
    c.stroke(circle(12, 12, 9.5), 1.6);
    c.stroke(polyline({{12, 6.5}, {12, 17}}), 2);
    c.stroke(polyline({{7.5, 12.5}, {12, 17}, {16.5, 12.5}}), 2);
}

void drawSwitches(Canvas& c) {
    c.stroke(roundedRect(2.5, 3.5, 19, 7, 3.5), 1.5);
    c.fill(circle(17.5, 7, 2.3));
    c.stroke(roundedRect(2.5, 13.5, 19, 7, 3.5), 1.5);
    c.fill(circle(6.5, 17, 2.3));
}

void drawBug(Canvas& c) {
    QPainterPath body;
    body.addEllipse(QRectF(6, 6, 12, 15));
    c.stroke(body, 1.6);
    c.stroke(polyline({{12, 8}, {12, 21}}), 1.4);
    c.fill(circle(12, 5, 2.5));
    QPainterPath legs;
    for (const double y : {10.0, 14.0, 18.0}) {
        legs.moveTo(6, y);
        legs.lineTo(2.5, y - 1);
        legs.moveTo(18, y);
        legs.lineTo(21.5, y - 1);
    }
    c.stroke(legs, 1.3);
}

void drawChevronRight(Canvas& c) {
    c.stroke(polyline({{9, 4.5}, {16.5, 12}, {9, 19.5}}), 2.6);
}

void drawGeneric(Canvas& c) {
    c.stroke(roundedRect(3.5, 3.5, 17, 17, 4.5), 1.8);
    c.fill(circle(12, 12, 3));
}

void drawSleepPower(Canvas& c) {
    drawPower(c);
    c.fill(circle(19.5, 4.5, 2.5).subtracted(circle(21, 3.3, 2)));
}

void drawChecklist(Canvas& c) {
    for (const double y : {5.5, 12.0, 18.5}) {
        c.stroke(polyline({{3.5, y}, {5.3, y + 1.8}, {8.5, y - 1.8}}), 1.7);
        c.stroke(polyline({{11.5, y}, {20.5, y}}), 1.8);
    }
}

void drawAccessibility(Canvas& c) {
    c.stroke(circle(12, 12, 10), 1.6);
    c.fill(circle(12, 7, 1.8));
    c.stroke(polyline({{7, 10}, {12, 11}, {17, 10}}), 1.7);
    c.stroke(polyline({{9.5, 18}, {12, 11}, {14.5, 18}}), 1.7);
}

int batteryPercent(const QString& name) {
    static const QRegularExpression digits(QStringLiteral("^battery\\.(\\d+)"));
    const auto match = digits.match(name);
    return match.hasMatch() ? match.captured(1).toInt() : 100;
}

using Drawing = std::function<void(Canvas&, bool filled, const QString& name)>;

struct NamedDrawing {
    const char* prefix;
    Drawing draw;
};

// Longest, most specific prefixes first; ".fill" picks the solid form where there is one.
const std::vector<NamedDrawing>& drawings() {
    static const std::vector<NamedDrawing> table = {
        {"moon.zzz", [](Canvas& c, bool f, const QString&) { drawMoon(c, f, true); }},
        {"moon", [](Canvas& c, bool f, const QString&) { drawMoon(c, f, false); }},
        {"powersleep", [](Canvas& c, bool, const QString&) { drawSleepPower(c); }},
        {"eye", [](Canvas& c, bool f, const QString&) { drawEye(c, f); }},
        {"bolt.shield", [](Canvas& c, bool, const QString&) { drawShield(c, false, false, true); }},
        {"bolt.badge.clock",
         [](Canvas& c, bool, const QString&) {
             c.fill(bolt());
             c.cut(circle(18, 18, 6));
             c.stroke(circle(18, 18, 4.3), 1.4);
             c.stroke(polyline({{18, 15.8}, {18, 18}, {19.8, 18}}), 1.2);
         }},
        {"bolt", [](Canvas& c, bool f, const QString&) { c.shape(bolt(), f, 1.6); }},
        {"hourglass", [](Canvas& c, bool, const QString&) { drawHourglass(c); }},
        {"stopwatch", [](Canvas& c, bool, const QString&) { drawStopwatch(c); }},
        {"battery", [](Canvas& c, bool, const QString& n) { drawBattery(c, batteryPercent(n)); }},
        {"thermometer",
         [](Canvas& c, bool, const QString& n) {
             drawThermometer(c, !n.contains(QStringLiteral("low")));
         }},
        {"powerplug", [](Canvas& c, bool f, const QString&) { drawPlug(c, f); }},
        {"exclamationmark.triangle",
         [](Canvas& c, bool f, const QString&) { drawWarningTriangle(c, f); }},
        {"sparkles", [](Canvas& c, bool, const QString&) { drawSparkles(c); }},
        {"chevron.left.forwardslash.chevron.right",
         [](Canvas& c, bool, const QString&) { drawCode(c); }},
        {"chevron.right", [](Canvas& c, bool, const QString&) { drawChevronRight(c); }},
        {"globe", [](Canvas& c, bool, const QString&) { drawGlobe(c); }},
        {"terminal", [](Canvas& c, bool f, const QString&) { drawTerminal(c, f); }},
        {"app.dashed",
         [](Canvas& c, bool, const QString&) {
             c.stroke(roundedRect(3.5, 3.5, 17, 17, 5), 1.8, Qt::DashLine);
         }},
        {"gearshape", [](Canvas& c, bool, const QString&) { drawGear(c); }},
        {"power", [](Canvas& c, bool, const QString&) { drawPower(c); }},
        {"checkmark.seal", [](Canvas& c, bool f, const QString&) { drawSeal(c, f); }},
        {"checkmark.circle", [](Canvas& c, bool f, const QString&) { drawCheckCircle(c, f); }},
        {"magnifyingglass", [](Canvas& c, bool, const QString&) { drawMagnifier(c, 1, {}); }},
        {"doc.text.magnifyingglass", [](Canvas& c, bool, const QString&) { drawDocument(c); }},
        {"laptopcomputer", [](Canvas& c, bool, const QString&) { drawLaptop(c); }},
        {"arrow.counterclockwise",
         [](Canvas& c, bool, const QString&) { drawCounterclockwiseArrow(c); }},
        {"arrow.left.arrow.right", [](Canvas& c, bool, const QString&) { drawSwapArrows(c); }},
        {"arrow.down.circle", [](Canvas& c, bool, const QString&) { drawDownCircle(c); }},
        {"stayloom.cup", [](Canvas& c, bool f, const QString&) { drawCup(c, f); }},
        {"cpu", [](Canvas& c, bool, const QString&) { drawChip(c); }},
        {"chart.bar.xaxis", [](Canvas& c, bool, const QString&) { drawBars(c, true); }},
        {"chart.bar", [](Canvas& c, bool, const QString&) { drawBars(c, false); }},
        {"wrench.and.screwdriver", [](Canvas& c, bool, const QString&) { drawTools(c); }},
        {"lock.shield", [](Canvas& c, bool f, const QString&) { drawShield(c, f, true, false); }},
        {"trash", [](Canvas& c, bool, const QString&) { drawTrash(c); }},
        {"waveform.path.ecg", [](Canvas& c, bool, const QString&) { drawWaveform(c); }},
        {"switch.2", [](Canvas& c, bool, const QString&) { drawSwitches(c); }},
        {"ladybug", [](Canvas& c, bool, const QString&) { drawBug(c); }},
        {"checklist", [](Canvas& c, bool, const QString&) { drawChecklist(c); }},
        {"accessibility", [](Canvas& c, bool, const QString&) { drawAccessibility(c); }},
        {"circle", [](Canvas& c, bool f, const QString&) { c.shape(circle(12, 12, 9.5), f, 1.8); }},
    };
    return table;
}

const NamedDrawing* drawingFor(const QString& name) {
    for (const NamedDrawing& entry : drawings()) {
        const QString prefix = QString::fromLatin1(entry.prefix);
        if (name == prefix || name.startsWith(prefix + QLatin1Char('.'))) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

bool hasOwnDrawing(const QString& symbolName) {
    return drawingFor(symbolName) != nullptr;
}

void drawSymbol(QPainter& painter, const QString& symbolName, const QRectF& rect,
                const QColor& color) {
    if (rect.isEmpty()) {
        return;
    }
    // Drawn on a layer of its own so cut-outs make holes in the symbol, not in what lies below.
    const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    const double side = std::min(rect.width(), rect.height());
    QImage layer(QSize(int(std::ceil(side * ratio)), int(std::ceil(side * ratio))),
                 QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter layerPainter(&layer);
        layerPainter.setRenderHint(QPainter::Antialiasing);
        layerPainter.scale(layer.width() / grid, layer.height() / grid);
        Canvas canvas(layerPainter, color);
        const bool filled = symbolName.endsWith(QStringLiteral(".fill"));
        if (const NamedDrawing* drawing = drawingFor(symbolName)) {
            drawing->draw(canvas, filled, symbolName);
        } else {
            drawGeneric(canvas);
        }
    }
    const QRectF target(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    painter.drawImage(target, layer);
}

} // namespace nodwarden::app::detail
