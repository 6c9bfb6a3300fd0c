// Radargram pictures drawn with cairo: PNG, or PDF / SVG by the picture's
// extension. A panel is built block by block from the traces in order and
// narrowed on the way with the library's reductions (min-max across traces,
// so that peaks stay visible; average along the samples), so memory follows
// the picture, not the profile.
#ifndef TOOLS_PLOT_H_
#define TOOLS_PLOT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace vantir3_cli {

// What the axes of a panel show.
struct PanelAxes {
    int64_t traces = 0;
    int32_t samples = 0;
    double sampleIntervalNs = 1.0;
    double firstSampleTimeNs = 0.0;  // time of sample 0 relative to time zero
    double startM = 0.0, endM = 0.0; // distance of the first and last trace; equal when unknown
};

class Panel {
public:
    // columns, rows: the most the picture can show of it.
    Panel(std::string title, const PanelAxes& axes, int columns, int rows);
    // The next `count` traces (trace after trace, axes.samples each).
    void Add(const int16_t* traces, int64_t count);
    // Flushes the traces still waiting for a full group.
    void Finish();

    const std::string& title() const { return title_; }
    const PanelAxes& axes() const { return axes_; }
    int columns() const { return static_cast<int>(image_.size() / static_cast<size_t>(rows_)); }
    int rows() const { return rows_; }
    // Column-major: column c, row r at image()[c * rows() + r].
    const std::vector<int16_t>& image() const { return image_; }

private:
    // count traces (sample-reduced) in `groups` groups to the image.
    void Reduce(const int16_t* columns, int64_t count, int64_t groups);

    std::string title_;
    PanelAxes axes_;
    int rows_;
    int64_t group_;                // traces per pair of columns (1: no narrowing)
    std::vector<int16_t> pending_; // sample-reduced traces waiting for a full group
    std::vector<int16_t> image_;
};

struct PlotOptions {
    int width = 1000, height = 600;  // the whole picture, pixels
    double metresPerPixel = 0.0;     // > 0: the width follows from the distance
    double clipPercentile = 99.0;    // of |amplitude|
    bool oneScale = true;            // one clip for all panels, else one per panel
    std::string colourMap = "gray";  // "gray" or "diverging"
    double velocity = 0.1;           // m/ns, for the depth axis
    std::string title;
};

// The pixel area one panel's image gets, for building panels before drawing.
void PanelPixels(const PlotOptions& options, int panels, int* columns, int* rows);
// Widens options.width when metresPerPixel is set (distance / metres per
// pixel plus the margins, at most 20000 pixels).
void ApplyMetresPerPixel(PlotOptions& options, double distanceM, int panels);

// Draws the panels side by side on one colour scale and writes the picture
// under a temporary name, renamed into place when complete. Throws
// std::runtime_error when it cannot be written.
void WritePicture(const std::string& path, const std::vector<const Panel*>& panels, const PlotOptions& options);

// Frees cairo's and fontconfig's process-wide caches (for leak checkers);
// call once at exit, when no picture is being drawn.
void ReleasePictureCaches();

}  // namespace vantir3_cli

#endif  // TOOLS_PLOT_H_
