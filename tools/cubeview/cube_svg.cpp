#include "cube_svg.h"

#include <cstdio>
#include <sstream>
#include <vector>

#include "frame_names.h"

// Planes are horizontal layers, plane 1 on top, so Levels fills the cube from the bottom up;
// columns and rows run along two floor axes at different angles, so that no line of LEDs
// (the star's diagonals included) projects onto the vertical one. The planes are pulled apart
// far enough that no LED hides another and each plane reads on its own.
static const double kStep = 24.0;                        // LED spacing along rows and columns
static const double kBitAcross = 0.95, kBitDown = 0.22;  // screen direction of a column step
static const double kRowAcross = -0.45, kRowDown = 0.32; // screen direction of a row step
static const double kPlaneSpacing = 74.0;
static const double kCellWidth = 220.0;
static const double kCellHeight = 450.0;
static const double kOriginX = kCellWidth / 2 - kStep; // column 0, row 1 of plane 1
static const double kOriginY = 34.0;

static std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// A point in an animation's loop, as keyTimes want it: from 0 to 1, finely enough for a
// frame of 25 ms in a loop of seconds.
static std::string fraction(size_t part, size_t whole) {
    char text[32];
    std::snprintf(text, sizeof text, "%.5f", (double)part / (double)whole);
    return text;
}

struct Point {
    double x, y;
};

// bit 0..4, row and plane 1..5; fractional values give the corners of a plane's outline.
static Point project(double bit, double row, double plane) {
    double u = bit, v = row - 1, w = plane - 1;
    return {kOriginX + (u * kBitAcross + v * kRowAcross) * kStep,
            kOriginY + (u * kBitDown + v * kRowDown) * kStep + w * kPlaneSpacing};
}

static void writeDefs(std::ostringstream& out) {
    out << "<defs>\n"
           "<radialGradient id=\"glow\">"
           "<stop offset=\"0\" stop-color=\"#fff4c2\"/>"
           "<stop offset=\"0.35\" stop-color=\"#ffc233\"/>"
           "<stop offset=\"1\" stop-color=\"#ff9d00\" stop-opacity=\"0\"/>"
           "</radialGradient>\n"
           "</defs>\n";
}

// The cube's box, its planes and every LED of `payload`: lit ones glowing, dark ones as dots
// (or, with `darkOnly`, every LED as a dark dot, for frames drawn over it).
static void writeCube(std::ostringstream& out, const unsigned char* payload, bool darkOnly) {
    // The cube's vertical edges, then each plane's outline.
    const double cornerBits[4] = {-0.5, 4.5, 4.5, -0.5}, cornerRows[4] = {0.5, 0.5, 5.5, 5.5};
    for (int i = 0; i < 4; ++i) {
        Point top = project(cornerBits[i], cornerRows[i], 1);
        Point bottom = project(cornerBits[i], cornerRows[i], kCubePlanes);
        out << "<line x1=\"" << number(top.x) << "\" y1=\"" << number(top.y) << "\" x2=\""
            << number(bottom.x) << "\" y2=\"" << number(bottom.y)
            << "\" stroke=\"#2e3945\" stroke-width=\"1\"/>\n";
    }
    for (int plane = 1; plane <= kCubePlanes; ++plane) {
        out << "<polygon class=\"plane\" points=\"";
        for (int i = 0; i < 4; ++i) {
            Point corner = project(cornerBits[i], cornerRows[i], plane);
            out << (i ? " " : "") << number(corner.x) << "," << number(corner.y);
        }
        out << "\" fill=\"#1c232c\" fill-opacity=\"0.7\" stroke=\"#3a4654\" stroke-width=\"1\"/>\n";
        Point label = project(-0.5, 5.5, plane);
        out << "<text x=\"" << number(label.x - 6) << "\" y=\"" << number(label.y + 4)
            << "\" text-anchor=\"end\" font-family=\"sans-serif\" font-size=\"10\" "
               "fill=\"#5d6b79\">"
            << plane << "</text>\n";
    }
    for (int plane = kCubePlanes; plane >= 1; --plane) {
        for (int depth = 0; depth <= 8; ++depth) {
            for (int bit = 0; bit < kCubeColumns; ++bit) {
                int row = depth - bit + 1;
                if (row < 1 || row > kCubeRows)
                    continue;
                Point at = project(bit, row, plane);
                bool lit = !darkOnly && ((payload[frameOffset(plane, row) - 1] >> bit) & 1);
                if (lit)
                    out << "<circle class=\"lit\" cx=\"" << number(at.x) << "\" cy=\""
                        << number(at.y) << "\" r=\"9\" fill=\"url(#glow)\"/>\n";
                else
                    out << "<circle class=\"dark\" cx=\"" << number(at.x) << "\" cy=\""
                        << number(at.y) << "\" r=\"2.6\" fill=\"#6b7785\" fill-opacity=\"0.6\"/>\n";
            }
        }
    }
}

static void writeCell(std::ostringstream& out, CubePattern pattern, int index, double left,
                      double top) {
    const unsigned char* payload = patternPayload(pattern, index);
    out << "<g transform=\"translate(" << number(left) << " " << number(top) << ")\">\n";
    out << "<rect x=\"4\" y=\"4\" width=\"" << number(kCellWidth - 8) << "\" height=\""
        << number(kCellHeight - 8) << "\" rx=\"10\" fill=\"#12161c\"/>\n";
    writeCube(out, payload, false);
    FrameMatch match = {pattern, index};
    out << "<text x=\"" << number(kCellWidth / 2) << "\" y=\"" << number(kCellHeight - 34)
        << "\" text-anchor=\"middle\" font-family=\"sans-serif\" font-size=\"18\" "
           "fill=\"#e8edf2\">"
        << matchName(match) << "</text>\n";
    int lit = litCount(payload);
    out << "<text x=\"" << number(kCellWidth / 2) << "\" y=\"" << number(kCellHeight - 14)
        << "\" text-anchor=\"middle\" font-family=\"sans-serif\" font-size=\"12\" "
           "fill=\"#8d99a6\">"
        << lit << (lit == 1 ? " LED" : " LEDs") << " lit</text>\n";
    out << "</g>\n";
}

static std::string document(double width, double height, const std::string& body) {
    std::ostringstream out;
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << number(width) << "\" height=\""
        << number(height) << "\" viewBox=\"0 0 " << number(width) << " " << number(height)
        << "\">\n";
    writeDefs(out);
    out << body << "</svg>\n";
    return out.str();
}

std::string frameSvg(CubePattern pattern, int index) {
    std::ostringstream body;
    writeCell(body, pattern, index, 0, 0);
    return document(kCellWidth, kCellHeight, body.str());
}

std::string overviewSvg(CubePattern pattern) {
    int count = patternFrameCount(pattern);
    int columns = count <= 6 ? count : 4;
    int rows = (count + columns - 1) / columns;
    std::ostringstream body;
    for (int index = 0; index < count; ++index)
        writeCell(body, pattern, index, (index % columns) * kCellWidth,
                  (index / columns) * kCellHeight);
    return document(columns * kCellWidth, rows * kCellHeight, body.str());
}

std::string pixelMapSvg() {
    const double cell = 34, gap = 26, margin = 16, top = 40;
    const double planeWidth = kCubeColumns * cell;
    std::ostringstream body;
    double width = 2 * margin + kCubePlanes * planeWidth + (kCubePlanes - 1) * gap;
    double height = top + kCubeRows * cell + margin + 22;
    body << "<rect width=\"" << number(width) << "\" height=\"" << number(height)
         << "\" rx=\"10\" fill=\"#12161c\"/>\n";
    for (int plane = 1; plane <= kCubePlanes; ++plane) {
        double left = margin + (plane - 1) * (planeWidth + gap);
        body << "<text x=\"" << number(left + planeWidth / 2) << "\" y=\"26\" "
             << "text-anchor=\"middle\" font-family=\"sans-serif\" font-size=\"14\" "
                "fill=\"#e8edf2\">plane "
             << plane << "</text>\n";
        for (int row = 1; row <= kCubeRows; ++row) {
            for (int bit = 0; bit < kCubeColumns; ++bit) {
                int pixel = 25 * (plane - 1) + 5 * (row - 1) + bit;
                double x = left + bit * cell + cell / 2, y = top + (row - 1) * cell + cell / 2;
                body << "<circle cx=\"" << number(x) << "\" cy=\"" << number(y)
                     << "\" r=\"14\" fill=\"#1c232c\" stroke=\"#3a4654\"/>"
                     << "<text x=\"" << number(x) << "\" y=\"" << number(y + 4)
                     << "\" text-anchor=\"middle\" font-family=\"sans-serif\" "
                        "font-size=\"11\" fill=\"#ffc233\">"
                     << pixel << "</text>\n";
            }
        }
    }
    body << "<text x=\"" << number(width / 2) << "\" y=\"" << number(height - 12)
         << "\" text-anchor=\"middle\" font-family=\"sans-serif\" font-size=\"12\" "
            "fill=\"#8d99a6\">pixel = 25 x (plane - 1) + 5 x (row - 1) + column; rows top to "
            "bottom, columns (bits 0 to 4) left to right</text>\n";
    return document(width, height, body.str());
}

std::string animatedSvg(const std::vector<CubeFrame>& frames, int frameMs,
                        const std::string& caption) {
    std::ostringstream body;
    body << "<rect x=\"4\" y=\"4\" width=\"" << number(kCellWidth - 8) << "\" height=\""
         << number(kCellHeight - 8) << "\" rx=\"10\" fill=\"#12161c\"/>\n";
    writeCube(body, nullptr, true);
    body << "<defs><circle id=\"led\" r=\"9\" fill=\"url(#glow)\"/></defs>\n";
    // Each frame's lit LEDs over the dark cube, shown in turn for its time, round and round.
    const size_t count = frames.size();
    const std::string loop = number(count * frameMs / 1000.0) + "s";
    for (size_t k = 0; k < count; ++k) {
        body << "<g visibility=\"hidden\"><animate attributeName=\"visibility\" dur=\"" << loop
             << "\" repeatCount=\"indefinite\" calcMode=\"discrete\" ";
        if (k == 0)
            body << "values=\"visible;hidden\" keyTimes=\"0;" << fraction(1, count) << "\"/>";
        else
            body << "values=\"hidden;visible;hidden\" keyTimes=\"0;" << fraction(k, count) << ";"
                 << fraction(k + 1, count) << "\"/>";
        const unsigned char* payload = frames[k].bytes + 1;
        for (int plane = kCubePlanes; plane >= 1; --plane)
            for (int depth = 0; depth <= 8; ++depth)
                for (int bit = 0; bit < kCubeColumns; ++bit) {
                    int row = depth - bit + 1;
                    if (row < 1 || row > kCubeRows ||
                        !((payload[frameOffset(plane, row) - 1] >> bit) & 1))
                        continue;
                    Point at = project(bit, row, plane);
                    body << "<use href=\"#led\" x=\"" << number(at.x) << "\" y=\"" << number(at.y)
                         << "\"/>";
                }
        body << "</g>\n";
    }
    body << "<text x=\"" << number(kCellWidth / 2) << "\" y=\"" << number(kCellHeight - 24)
         << "\" text-anchor=\"middle\" font-family=\"sans-serif\" font-size=\"16\" "
            "fill=\"#e8edf2\">"
         << caption << "</text>\n";
    return document(kCellWidth, kCellHeight, body.str());
}
