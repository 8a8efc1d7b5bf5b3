// Draws the pictures of the main window: the step markers, the browse
// button's folder, the help pictures, the step 4 backdrop with its gauge tube,
// the title banner and the window icon. Run through ./redraw, which writes
// the files into this folder; the generated files are kept in the repository
// so that the program's build needs nothing but them.
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <utility>

namespace {

// House colours: the window's purple and an orange to go with it.
const QColor kPurple(128, 0, 128);
const QColor kPurpleLight(178, 70, 178);
const QColor kPurpleDark(82, 0, 82);
const QColor kOrange(255, 140, 0);
const QColor kOrangeLight(255, 196, 92);
const QColor kOrangeDark(204, 92, 0);
const QColor kInk(44, 32, 44);
const QColor kPaper(255, 251, 245);
const QColor kFolder(255, 204, 64);
const QColor kFolderLight(255, 228, 130);
const QColor kFolderDark(186, 132, 0);

const char* const kFace = "DejaVu Sans";
const char* const kMonoFace = "DejaVu Sans Mono";

// Where the progress column lies in the step 4 backdrop, in the backdrop's own
// pixels. The backdrop is shown 2 pixels inside a border whose outer corner is
// at window pixel (240, 8), so its pixel (0, 0) is window pixel (242, 10). The
// column is 414 to 432.67 pixels across (6210 and 280 twips), its bottom edge
// at 368 (5520 twips) and its top at 42 (630 twips) when full.
constexpr double kChannelLeft = 414.0 - 242.0;                   // 172
constexpr double kChannelRight = (6210.0 + 280.0) / 15 - 242.0;  // 190.67
constexpr double kChannelTop = 630.0 / 15 - 10.0;                // 32
constexpr double kChannelBottom = 5520.0 / 15 - 10.0;            // 358

QFont Font(int pixelSize, bool bold = false, const char* face = kFace)
{
    QFont font(face);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QImage Canvas(int width, int height, QColor fill)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

void Begin(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
}

// A shaded disc with a white digit: the step markers.
QImage StepMarker(int digit, bool current)
{
    QImage image = Canvas(32, 32, Qt::transparent);
    QPainter p(&image);
    Begin(p);
    // The disc keeps to the left three quarters of the picture: the step's
    // heading starts 8 pixels before the picture's right edge.
    p.translate(0.5, 4);
    p.scale(0.75, 0.75);
    const QColor base = current ? kOrange : kPurple;
    const QColor light = current ? kOrangeLight : kPurpleLight;
    const QColor dark = current ? kOrangeDark : kPurpleDark;

    QRadialGradient shade(QPointF(12, 10), 20);
    shade.setColorAt(0.0, light);
    shade.setColorAt(0.55, base);
    shade.setColorAt(1.0, dark);
    p.setBrush(shade);
    p.setPen(QPen(dark, 1.2));
    p.drawEllipse(QRectF(1.1, 1.1, 29.8, 29.8));
    // A soft highlight on the upper rim.
    p.setPen(QPen(QColor(255, 255, 255, 90), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(3.5, 3.5, 25, 25), 40 * 16, 100 * 16);

    const QString text = QString::number(digit);
    p.setFont(Font(21, true));
    p.setPen(QColor(0, 0, 0, 80));
    p.drawText(QRectF(1, 1.5, 32, 32), Qt::AlignCenter, text);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0.5, 32, 32), Qt::AlignCenter, text);
    return image;
}

// A folder filling `box`: back panel with its tab, lighter front flap.
void DrawFolder(QPainter& p, QRectF box, QColor body, QColor light, QColor edge)
{
    const double w = box.width();
    const double h = box.height();
    const double x = box.x();
    const double y = box.y();
    // Back panel with its tab.
    QPainterPath back;
    back.moveTo(x, y + 0.16 * h);
    back.lineTo(x + 0.38 * w, y + 0.16 * h);
    back.lineTo(x + 0.47 * w, y + 0.28 * h);
    back.lineTo(x + w, y + 0.28 * h);
    back.lineTo(x + w, y + h);
    back.lineTo(x, y + h);
    back.closeSubpath();
    p.setPen(QPen(edge, qMax(1.0, w / 16)));
    p.setBrush(body.darker(112));
    p.drawPath(back);
    // Front flap, lighter at the top.
    QLinearGradient front(0, y + 0.38 * h, 0, y + h);
    front.setColorAt(0, light);
    front.setColorAt(1, body);
    p.setBrush(front);
    p.drawRect(QRectF(x, y + 0.40 * h, w, 0.60 * h));
}

// At 16 pixels every edge sits on a pixel centre so that the outline stays crisp.
QImage BrowseFolder()
{
    QImage image = Canvas(16, 16, Qt::transparent);
    QPainter p(&image);
    Begin(p);
    p.setPen(QPen(kFolderDark, 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(kFolder.darker(112));
    p.drawPolygon(QPolygonF({QPointF(1.5, 2.5), QPointF(6.5, 2.5), QPointF(7.5, 4.5), QPointF(14.5, 4.5),
                             QPointF(14.5, 13.5), QPointF(1.5, 13.5)}));
    QLinearGradient front(0, 6, 0, 14);
    front.setColorAt(0, kFolderLight);
    front.setColorAt(1, kFolder);
    p.setBrush(front);
    p.drawRect(QRectF(1.5, 6.5, 13, 7));
    return image;
}

// Lays out text in a column and keeps track of the next free line.
class Column {
public:
    Column(QPainter& p, double left, double width, double top)
        : p_(p)
        , left_(left)
        , width_(width)
        , y_(top)
    {}

    // A paragraph with word wrapping; parts in <b>...</b> are drawn bold and purple.
    void Paragraph(const QString& html, int pixelSize = 11, double after = 5, double indent = 0)
    {
        // Words that carry their own weight and whether a space precedes
        // them; a bold run glued to plain text (no space) never breaks there.
        struct Word {
            QString text;
            bool bold;
            bool spaced;
        };
        QList<Word> words;
        bool bold = false;
        bool spaced = false;
        QString current;
        const auto flush = [&] {
            if (current.isEmpty()) return;
            words.append({current, bold, spaced});
            current.clear();
            spaced = false;
        };
        for (qsizetype i = 0; i < html.size(); ++i) {
            if (html.mid(i, 3) == "<b>" || html.mid(i, 4) == "</b>") {
                flush();
                bold = html[i + 1] == 'b';
                i += bold ? 2 : 3;
            } else if (html[i] == ' ') {
                flush();
                spaced = true;
            } else {
                current += html[i];
            }
        }
        flush();

        const QFont plain = Font(pixelSize);
        const QFont strong = Font(pixelSize, true);
        const QFontMetricsF plainMetrics(plain);
        const QFontMetricsF strongMetrics(strong);
        const double lineHeight = plainMetrics.lineSpacing() + 1;
        const double space = plainMetrics.horizontalAdvance(' ');
        double x = left_ + indent;
        double baseline = y_ + plainMetrics.ascent();
        for (const Word& w : words) {
            const double advance = (w.bold ? strongMetrics : plainMetrics).horizontalAdvance(w.text);
            const bool lineStart = x <= left_ + indent;
            const double gap = (w.spaced && !lineStart) ? space : 0;
            if (w.spaced && !lineStart && x + gap + advance > left_ + width_) {
                x = left_ + indent;
                baseline += lineHeight;
            } else {
                x += gap;
            }
            p_.setFont(w.bold ? strong : plain);
            p_.setPen(w.bold ? kPurple : kInk);
            p_.drawText(QPointF(x, baseline), w.text);
            x += advance;
        }
        y_ = baseline + plainMetrics.descent() + after;
    }

    // A bullet point: a small orange diamond and an indented paragraph.
    void Bullet(const QString& html, int pixelSize = 11, double after = 6)
    {
        const double cy = y_ + 6.5;
        QPainterPath diamond;
        diamond.moveTo(left_ + 3.5, cy - 3.5);
        diamond.lineTo(left_ + 7, cy);
        diamond.lineTo(left_ + 3.5, cy + 3.5);
        diamond.lineTo(left_, cy);
        diamond.closeSubpath();
        p_.setPen(Qt::NoPen);
        p_.setBrush(kOrange);
        p_.drawPath(diamond);
        Paragraph(html, pixelSize, after, 11);
    }

    void Skip(double pixels) { y_ += pixels; }
    double Y() const { return y_; }

private:
    QPainter& p_;
    double left_;
    double width_;
    double y_;
};

// The frame shared by the three help pictures: a purple head with the step's
// orange marker and title, paper below and an orange rule at the foot.
void HelpFrame(QPainter& p, int step, const QString& title)
{
    const int w = 206;
    const int h = 379;
    p.fillRect(0, 0, w, h, kPaper);

    QLinearGradient head(0, 0, 0, 46);
    head.setColorAt(0, kPurpleLight.darker(115));
    head.setColorAt(1, kPurple);
    p.fillRect(0, 0, w, 46, head);
    p.fillRect(0, 46, w, 3, kOrange);

    p.drawImage(QPointF(8, 7), StepMarker(step, true));
    p.setPen(QColor(255, 255, 255, 200));
    p.setFont(Font(10, true));
    p.drawText(QPointF(48, 19), QString("STEP %1 OF 4").arg(step));
    p.setPen(Qt::white);
    p.setFont(Font(15, true));
    p.drawText(QPointF(48, 37), title);

    QLinearGradient foot(0, h - 8, 0, h);
    foot.setColorAt(0, kOrangeLight);
    foot.setColorAt(1, kOrange);
    p.fillRect(0, h - 6, w, 6, foot);
}

QImage HelpStep1()
{
    QImage image = Canvas(206, 379, kPaper);
    QPainter p(&image);
    Begin(p);
    HelpFrame(p, 1, "Select a Folder");

    Column text(p, 10, 188, 57);
    text.Paragraph("Press the <b>folder button</b> and choose the folder that holds your images.");
    text.Paragraph("The resized images go into a new sub-folder named <b>Resized</b> inside it. "
                   "Your originals stay as they are.");

    // A folder tree: / > home > ann > Photos (chosen) > Resized (new).
    const double top = text.Y() + 4;
    const double row = 21;
    struct Node {
        const char* name;
        int depth;
    };
    const Node nodes[] = {{"/", 0}, {"home", 1}, {"ann", 2}, {"Photos", 3}, {"Resized", 4}};
    const double indent = 18;
    const int count = 5;
    QRectF panel(8, top - 4, 190, row * count + 8);
    p.setPen(QPen(QColor(220, 200, 220), 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(panel.adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    for (int i = 0; i < count; ++i) {
        const double x = 16 + nodes[i].depth * indent;
        const double y = top + i * row;
        if (i > 0) {
            // Elbow from the parent's folder down to this one.
            p.setPen(QPen(QColor(150, 130, 150), 1, Qt::DotLine));
            const double px = x - indent + 7.5;
            p.drawLine(QPointF(px, y - row + 15), QPointF(px, y + 8.5));
            p.drawLine(QPointF(px, y + 8.5), QPointF(x - 1, y + 8.5));
        }
        const bool chosen = i == 3;
        const bool created = i == 4;
        if (chosen) {
            p.setPen(Qt::NoPen);
            p.setBrush(kOrangeLight);
            p.drawRoundedRect(QRectF(x - 3, y - 1, 72, 19), 3, 3);
        }
        if (created) {
            DrawFolder(p, QRectF(x, y + 1.5, 15, 13), kPurpleLight, QColor(222, 170, 222), kPurpleDark);
        } else {
            DrawFolder(p, QRectF(x, y + 1.5, 15, 13), kFolder, kFolderLight, kFolderDark);
        }
        p.setFont(Font(11, chosen || created));
        p.setPen(created ? kPurple : kInk);
        p.drawText(QPointF(x + 20, y + 13), nodes[i].name);
        if (created) {
            QRectF tag(x + 76, y + 2, 28, 14);
            p.setPen(Qt::NoPen);
            p.setBrush(kOrange);
            p.drawRoundedRect(tag, 7, 7);
            p.setPen(Qt::white);
            p.setFont(Font(9, true));
            p.drawText(tag, Qt::AlignCenter, "new");
        }
    }
    text.Skip(panel.height() + 8);

    text.Paragraph("For example, the folder", 11, 2);
    const auto path = [&](const QString& value, double y) {
        QRectF box(10, y, 186, 17);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(244, 232, 244));
        p.drawRoundedRect(box, 3, 3);
        p.setFont(Font(11, false, kMonoFace));
        p.setPen(kPurpleDark);
        p.drawText(box.adjusted(5, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, value);
    };
    path("/home/ann/Photos", text.Y());
    text.Skip(21);
    text.Paragraph("gets the resized images in", 11, 2);
    path("/home/ann/Photos/Resized", text.Y());
    return image;
}

QImage HelpStep2()
{
    QImage image = Canvas(206, 379, kPaper);
    QPainter p(&image);
    Begin(p);
    HelpFrame(p, 2, "Select Method");

    Column text(p, 10, 188, 57);
    text.Paragraph("Tick one of the five ways to size the images:", 11, 8);
    text.Bullet("<b>Height & Width</b> sets every image to the given height and width.");
    text.Bullet("<b>Percentage</b> changes height and width by the given percentage.");
    text.Bullet("<b>Scale to Height</b> sets the height and keeps the aspect ratio.");
    text.Bullet("<b>Scale to Width</b> sets the width and keeps the aspect ratio.");
    text.Bullet("<b>Set Maximums</b> makes images no larger than the given sizes, keeping the aspect ratio.");

    // A small picture shrinking into a smaller one, to say "resize".
    const double y = text.Y() + 6;
    const auto photo = [&](QRectF r) {
        p.setPen(QPen(kPurpleDark, 1));
        QLinearGradient sky(0, r.top(), 0, r.bottom());
        sky.setColorAt(0, QColor(150, 200, 255));
        sky.setColorAt(1, QColor(225, 240, 255));
        p.setBrush(sky);
        p.drawRect(r);
        p.setPen(Qt::NoPen);
        p.setBrush(kOrange);
        const double s = r.height() / 10;
        p.drawEllipse(QPointF(r.right() - 3 * s, r.top() + 3 * s), 1.5 * s, 1.5 * s);
        QPainterPath hill;
        hill.moveTo(r.left(), r.bottom());
        hill.quadTo(r.left() + r.width() * 0.35, r.top() + r.height() * 0.35, r.left() + r.width() * 0.7,
                    r.bottom() - r.height() * 0.2);
        hill.quadTo(r.left() + r.width() * 0.85, r.bottom() - r.height() * 0.35, r.right(),
                    r.bottom() - r.height() * 0.1);
        hill.lineTo(r.right(), r.bottom());
        hill.closeSubpath();
        p.setBrush(QColor(120, 60, 140));
        p.drawPath(hill);
    };
    if (y + 40 < 370) {
        photo(QRectF(42.5, y + 0.5, 50, 36));
        photo(QRectF(130.5, y + 9.5, 32, 23));
        p.setPen(QPen(kOrange, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(100, y + 19), QPointF(121, y + 19));
        p.drawLine(QPointF(115, y + 13), QPointF(121, y + 19));
        p.drawLine(QPointF(115, y + 25), QPointF(121, y + 19));
    }
    return image;
}

QImage HelpStep3()
{
    QImage image = Canvas(206, 379, kPaper);
    QPainter p(&image);
    Begin(p);
    HelpFrame(p, 3, "Set Sizes");

    Column text(p, 10, 188, 57);
    text.Paragraph("Enter the <b>height</b>, <b>width</b> or <b>percentage</b> that your method asks for.",
                   11, 8);

    // A picture with its width and height measured.
    const double top = text.Y() + 2;
    QRectF pic(40.5, top + 0.5, 110, 78);
    QLinearGradient sky(0, pic.top(), 0, pic.bottom());
    sky.setColorAt(0, QColor(150, 200, 255));
    sky.setColorAt(1, QColor(230, 242, 255));
    p.setPen(QPen(kPurpleDark, 1));
    p.setBrush(sky);
    p.drawRect(pic);
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawEllipse(QPointF(pic.right() - 22, pic.top() + 20), 10, 10);
    QPainterPath hill;
    hill.moveTo(pic.left(), pic.bottom());
    hill.quadTo(pic.left() + 40, pic.top() + 25, pic.left() + 75, pic.bottom() - 18);
    hill.quadTo(pic.left() + 95, pic.bottom() - 30, pic.right(), pic.bottom() - 10);
    hill.lineTo(pic.right(), pic.bottom());
    hill.closeSubpath();
    p.setBrush(QColor(120, 60, 140));
    p.drawPath(hill);

    const auto arrow = [&](QPointF a, QPointF b) {
        p.setPen(QPen(kPurple, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(a, b);
        const QPointF d = (b - a) / QLineF(a, b).length();
        const QPointF n(-d.y(), d.x());
        for (const auto& [tip, dir] : {std::pair{a, d}, std::pair{b, -d}}) {
            p.drawLine(tip, tip + dir * 5 + n * 3);
            p.drawLine(tip, tip + dir * 5 - n * 3);
        }
    };
    arrow(QPointF(pic.left(), pic.bottom() + 7), QPointF(pic.right(), pic.bottom() + 7));
    arrow(QPointF(pic.left() - 8, pic.top()), QPointF(pic.left() - 8, pic.bottom()));
    p.setPen(kPurple);
    p.setFont(Font(10, true));
    p.drawText(QRectF(pic.left(), pic.bottom() + 9, pic.width(), 14), Qt::AlignCenter, "width");
    p.save();
    p.translate(pic.left() - 12, pic.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-40, -14, 80, 14), Qt::AlignCenter, "height");
    p.restore();
    text.Skip(pic.height() + 30);

    text.Paragraph("Heights and widths are in <b>pixels</b>.", 11, 6);
    text.Paragraph(
        "Percentages must be <b>whole numbers</b>: 50 makes the images half as big, 200 twice as big.", 11,
        8);

    // Two sample entries: a whole number is fine, a fraction is not.
    const auto entry = [&](double y, const QString& value, bool good) {
        QRectF box(30.5, y + 0.5, 48, 19);
        p.setPen(QPen(QColor(150, 140, 150), 1));
        p.setBrush(Qt::white);
        p.drawRect(box);
        p.setPen(kInk);
        p.setFont(Font(11));
        p.drawText(box.adjusted(0, 0, -5, 0), Qt::AlignVCenter | Qt::AlignRight, value);
        p.drawText(QPointF(box.right() + 5, y + 14), "%");
        const QPointF c(box.right() + 38, y + 10);
        p.setPen(Qt::NoPen);
        p.setBrush(good ? QColor(40, 150, 60) : QColor(200, 40, 40));
        p.drawEllipse(c, 8, 8);
        p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        if (good) {
            p.drawPolyline(QPolygonF({c + QPointF(-4, 0), c + QPointF(-1, 3.5), c + QPointF(4, -3)}));
        } else {
            p.drawLine(c + QPointF(-3.5, -3.5), c + QPointF(3.5, 3.5));
            p.drawLine(c + QPointF(-3.5, 3.5), c + QPointF(3.5, -3.5));
        }
    };
    const double y = text.Y();
    entry(y, "50", true);
    entry(y + 26, "50.5", false);
    text.Skip(56);
    text.Paragraph("A size of <b>0</b> keeps the start button off.", 11, 0);
    return image;
}

// Step 4: an orange field, a white oval behind the job details on the left
// and the gauge tube whose channel the progress column fills exactly.
QImage MeterBackdrop()
{
    QImage image = Canvas(206, 379, kOrange);
    QPainter p(&image);
    Begin(p);

    QLinearGradient field(0, 0, 206, 379);
    field.setColorAt(0, QColor(255, 168, 40));
    field.setColorAt(1, QColor(240, 118, 0));
    p.fillRect(image.rect(), field);
    // Faint rings for depth.
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 5; ++i) {
        p.setPen(QPen(QColor(255, 255, 255, 26), 6));
        p.drawEllipse(QPointF(72, 182), 128 + i * 22, 222 + i * 22);
    }

    // The oval, with a soft shadow, behind the labels on the left.
    const QRectF oval(-64, -4, 228, 386);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 60, 0, 70));
    p.drawEllipse(oval.translated(3, 4));
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(128, 0, 128, 150), 2));
    p.drawEllipse(oval);

    // The tube: glass walls just outside the channel, open at the top.
    const double left = kChannelLeft;
    const double right = kChannelRight;
    const double glassTop = kChannelTop - 10;
    QLinearGradient glass(left, 0, right, 0);
    glass.setColorAt(0, QColor(250, 240, 250));
    glass.setColorAt(0.35, QColor(255, 255, 255));
    glass.setColorAt(1, QColor(236, 222, 236));
    p.setPen(Qt::NoPen);
    p.setBrush(glass);
    p.drawRect(QRectF(left - 1, glassTop, right - left + 2.33, kChannelBottom - glassTop));

    const QPen wall(kPurpleDark, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    p.setPen(wall);
    // Left wall at x 170..172, right wall at 191..193: the column sits between.
    p.drawLine(QPointF(left - 1, glassTop), QPointF(left - 1, kChannelBottom + 1));
    p.drawLine(QPointF(right + 1.33, glassTop), QPointF(right + 1.33, kChannelBottom + 1));
    // Small lips at the open top.
    p.setPen(QPen(kPurpleDark, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(left - 1, glassTop), QPointF(left - 4, glassTop - 3));
    p.drawLine(QPointF(right + 1.33, glassTop), QPointF(right + 4.33, glassTop - 3));

    // Tick marks on the right: ten long divisions over the column's travel,
    // a short one between each.
    for (int i = 1; i <= 20; ++i) {
        const double y = std::round(kChannelBottom - i * (kChannelBottom - kChannelTop) / 20) + 0.5;
        const bool major = i % 2 == 0;
        p.setPen(QPen(major ? kPurpleDark : QColor(128, 0, 128, 170), 1));
        p.drawLine(QPointF(right + 3, y), QPointF(right + (major ? 11 : 7), y));
    }

    // The white box that closes the bottom, just below the channel.
    const QRectF box(left - 6, kChannelBottom, (right - left) + 12.33, 11);
    p.setPen(QPen(kPurpleDark, 1.5));
    p.setBrush(Qt::white);
    p.drawRoundedRect(box.adjusted(0.75, 0.75, -0.75, -0.75), 2, 2);
    return image;
}

// The banner: "Folvane" reading upwards on a purple to orange gradient.
QImage Banner()
{
    const int w = 56;
    const int h = 350;
    QImage image = Canvas(w, h, kPurple);
    QPainter p(&image);
    Begin(p);
    QLinearGradient shade(0, 0, 0, h);
    shade.setColorAt(0, kPurpleDark);
    shade.setColorAt(0.45, kPurple);
    shade.setColorAt(1, kOrange);
    p.fillRect(image.rect(), shade);
    // A lighter band down the middle gives the banner some roundness.
    QLinearGradient sheen(0, 0, w, 0);
    sheen.setColorAt(0, QColor(0, 0, 0, 50));
    sheen.setColorAt(0.45, QColor(255, 255, 255, 40));
    sheen.setColorAt(1, QColor(0, 0, 0, 60));
    p.fillRect(image.rect(), sheen);
    p.fillRect(QRectF(w - 3, 0, 3, h), QColor(255, 140, 0, 160));

    p.save();
    p.translate(w / 2.0, h / 2.0 + 14);
    p.rotate(-90);
    QFont font = Font(36, true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(font);
    const QRectF band(-h / 2.0, -w / 2.0, h, w);
    p.setPen(QColor(60, 0, 60, 120));
    p.drawText(band.translated(2, 2), Qt::AlignCenter, "Folvane");
    p.setPen(Qt::white);
    p.drawText(band, Qt::AlignCenter, "Folvane");
    p.restore();

    // Step dots above the name, orange and white.
    for (int i = 0; i < 4; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(i == 0 ? kOrange : QColor(255, 255, 255, 190));
        p.drawEllipse(QPointF(w / 2.0, 18 + i * 14), 4, 4);
    }
    return image;
}

// The window icon: a folder with a camera held on it by a clamp, drawn on a
// 256-unit grid and scaled to the size wanted.
QImage WindowIcon(int size)
{
    QImage image = Canvas(size, size, Qt::transparent);
    QPainter p(&image);
    Begin(p);
    p.scale(size / 256.0, size / 256.0);
    const double line = size <= 32 ? 12 : 7;  // strokes that survive the small size

    // Folder.
    QPainterPath back;
    back.moveTo(12, 92);
    back.lineTo(12, 62);
    back.quadTo(12, 52, 22, 52);
    back.lineTo(84, 52);
    back.lineTo(104, 72);
    back.lineTo(234, 72);
    back.quadTo(244, 72, 244, 82);
    back.lineTo(244, 232);
    back.lineTo(12, 232);
    back.closeSubpath();
    p.setPen(QPen(kFolderDark, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kFolder.darker(112));
    p.drawPath(back);
    QLinearGradient front(0, 110, 0, 240);
    front.setColorAt(0, kFolderLight);
    front.setColorAt(1, kFolder);
    p.setBrush(front);
    p.drawRoundedRect(QRectF(12, 108, 232, 128), 10, 10);

    // Camera on the folder's front.
    const QRectF body(56, 118, 150, 96);
    p.setPen(QPen(QColor(30, 24, 34), line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(64, 56, 72));
    p.drawRoundedRect(QRectF(84, 100, 50, 26), 6, 6);  // viewfinder hump
    p.drawRoundedRect(body, 16, 16);
    p.setBrush(QColor(200, 200, 215));
    p.drawEllipse(body.center() + QPointF(4, 4), 34, 34);
    p.setPen(Qt::NoPen);
    QRadialGradient lens(body.center() + QPointF(-4, -4), 26);
    lens.setColorAt(0, kPurpleLight);
    lens.setColorAt(1, kPurpleDark);
    p.setBrush(lens);
    p.drawEllipse(body.center() + QPointF(4, 4), 22, 22);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(body.center() + QPointF(-4, -4), 6, 6);
    p.setBrush(kOrange);
    p.drawEllipse(QPointF(80, 136), 7, 7);  // flash lamp

    // The clamp: a purple C reaching over the camera and under the folder;
    // its screw comes down through the upper jaw and presses a pad onto the
    // camera's top.
    p.setPen(QPen(kPurpleDark, line * 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kPurpleLight);
    QPainterPath clamp;
    clamp.moveTo(150, 70);
    clamp.lineTo(238, 70);
    clamp.quadTo(252, 70, 252, 84);
    clamp.lineTo(252, 236);
    clamp.quadTo(252, 250, 238, 250);
    clamp.lineTo(196, 250);
    clamp.lineTo(196, 234);
    clamp.lineTo(234, 234);
    clamp.lineTo(234, 90);
    clamp.lineTo(150, 90);
    clamp.closeSubpath();
    p.drawPath(clamp);
    p.setPen(QPen(QColor(80, 80, 92), line * 0.9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(176, 34), QPointF(176, 106));
    p.drawLine(QPointF(156, 34), QPointF(196, 34));
    p.setPen(QPen(kPurpleDark, line * 0.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kOrange);
    p.drawRect(QRectF(160, 104, 32, 14));
    return image;
}

bool SavePng(const QImage& image, const QString& folder, const QString& name)
{
    const QString path = folder + "/" + name;
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "drawpictures: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// JPEG through TurboJPEG rather than Qt's writer, for full-resolution colour
// (4:4:4): thin orange and purple lines and small text stay clean.
bool SaveJpeg(const QImage& image, const QString& folder, const QString& name)
{
    const QString path = folder + "/" + name;
    QImage rgb(image.size(), QImage::Format_RGB888);
    rgb.fill(Qt::white);  // the pictures have no transparency; flatten onto white
    {
        QPainter p(&rgb);
        p.drawImage(0, 0, image);
    }
    std::unique_ptr<void, decltype(&tjDestroy)> encoder(tjInitCompress(), &tjDestroy);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const bool encoded = encoder && tjCompress2(encoder.get(), rgb.constBits(), rgb.width(),
                                                static_cast<int>(rgb.bytesPerLine()), rgb.height(), TJPF_RGB,
                                                &jpeg, &size, TJSAMP_444, 95, TJFLAG_ACCURATEDCT) == 0;
    std::unique_ptr<unsigned char, decltype(&tjFree)> owned(jpeg, &tjFree);
    QFile file(path);
    if (!encoded || !file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(jpeg), static_cast<qint64>(size)) !=
            static_cast<qint64>(size)) {
        std::fprintf(stderr, "drawpictures: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");

    bool ok = true;
    for (int digit = 1; digit <= 4; ++digit) {
        ok &= SavePng(StepMarker(digit, true), folder, QString("step%1_current.png").arg(digit));
        ok &= SavePng(StepMarker(digit, false), folder, QString("step%1_other.png").arg(digit));
    }
    ok &= SavePng(BrowseFolder(), folder, "browse_folder.png");
    ok &= SaveJpeg(HelpStep1(), folder, "help_step1.jpg");
    ok &= SaveJpeg(HelpStep2(), folder, "help_step2.jpg");
    ok &= SaveJpeg(HelpStep3(), folder, "help_step3.jpg");
    ok &= SaveJpeg(MeterBackdrop(), folder, "help_step4.jpg");
    ok &= SaveJpeg(Banner(), folder, "banner.jpg");
    ok &= SavePng(WindowIcon(32), folder, "folvane.png");
    ok &= SavePng(WindowIcon(256), folder, "folvane_256.png");
    return ok ? 0 : 1;
}
