#include "tools/plot.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "tools/owned_buffer.h"
#include "vantir3/vantir3.h"

namespace vantir3_cli {

namespace {

constexpr int kTop = 50, kBottom = 46, kLeft = 50, kRight = 46, kBar = 76;

}  // namespace

Panel::Panel(std::string title, const PanelAxes& axes, int columns, int rows)
    : title_(std::move(title)), axes_(axes) {
    rows_ = std::max(1, std::min(axes.samples, rows));
    columns = std::max(columns, 8);
    group_ = axes.traces > columns ? (2 * axes.traces + columns - 1) / columns : 1;
}

void Panel::Add(const int16_t* traces, int64_t count) {
    const int32_t s = axes_.samples;
    if (rows_ == s) {
        pending_.insert(pending_.end(), traces, traces + count * s);
    } else {
        // Along the samples: the library's average reduction, trace by trace.
        OwnedBuffer in, out;
        if (!MeboDataPtrAllocate(&in.b, 2, 0, s - 1, 0, static_cast<int32_t>(count - 1), 0, 0, 0) ||
            !MeboDataPtrAllocate(&out.b, 2, 0, rows_ - 1, 0, static_cast<int32_t>(count - 1), 0, 0, 0))
            throw std::runtime_error("picture: out of memory");
        std::memcpy(in.samples(), traces, static_cast<size_t>(count * s) * 2);
        if (CCdpProcessToolbox::CdpAverageReduction(out.b, in.b, 0) < 0)
            throw std::runtime_error("picture: the average reduction failed");
        pending_.insert(pending_.end(), out.samples(), out.samples() + count * rows_);
    }
    // Every full group at once: min-max reduction of k groups to 2k columns
    // ends its segments exactly at the group boundaries (R = group / 2).
    const int64_t groups = static_cast<int64_t>(pending_.size()) / (group_ * rows_);
    if (groups > 0) {
        Reduce(pending_.data(), groups * group_, groups);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(groups * group_ * rows_));
    }
}

void Panel::Finish() {
    const int64_t count = static_cast<int64_t>(pending_.size()) / rows_;
    if (count > 0) Reduce(pending_.data(), count, 1);
    pending_.clear();
}

void Panel::Reduce(const int16_t* columns, int64_t count, int64_t groups) {
    if (group_ == 1 || count <= 2) {
        image_.insert(image_.end(), columns, columns + count * rows_);
        return;
    }
    // Across traces: the library's min-max reduction of `count` traces to
    // two columns per group, on a view whose axis 0 runs across the traces.
    OwnedBuffer in, out;
    if (!MeboDataPtrAllocate(&in.b, 2, 0, rows_ - 1, 0, static_cast<int32_t>(count - 1), 0, 0, 0) ||
        !MeboDataPtrAllocate(&out.b, 2, 0, rows_ - 1, 0, static_cast<int32_t>(2 * groups - 1), 0, 0, 0))
        throw std::runtime_error("picture: out of memory");
    std::memcpy(in.samples(), columns, static_cast<size_t>(count * rows_) * 2);
    MeboDataPtrSwapAxes(&in.b, 0, 1);
    MeboDataPtrSwapAxes(&out.b, 0, 1);
    if (CCdpProcessToolbox::CdpMinMaxReduction(out.b, in.b) < 0)
        throw std::runtime_error("picture: the min-max reduction failed");
    image_.insert(image_.end(), out.samples(), out.samples() + 2 * groups * rows_);
}

void PanelPixels(const PlotOptions& o, int panels, int* columns, int* rows) {
    *columns = std::max(8, (o.width - kBar) / std::max(panels, 1) - kLeft - kRight);
    *rows = std::max(8, o.height - kTop - kBottom);
}

void ApplyMetresPerPixel(PlotOptions& o, double distanceM, int panels) {
    if (!(o.metresPerPixel > 0.0) || !(distanceM > 0.0)) return;
    const double columns = std::ceil(distanceM / o.metresPerPixel);
    o.width = static_cast<int>(std::min(20000.0, kBar + panels * (columns + kLeft + kRight)));
}

namespace {

// A step of 1, 2 or 5 times a power of ten giving about `ticks` ticks.
double NiceStep(double range, int ticks) {
    if (!(range > 0.0)) return 1.0;
    const double raw = range / ticks, p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= raw) return m * p;
    return 10.0 * p;
}

std::string Number(double v, double step) {
    char buf[32];
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    std::snprintf(buf, sizeof buf, "%.*f", decimals, std::abs(v) < step * 1e-6 ? 0.0 : v);
    return buf;
}

void Text(cairo_t* cr, double x, double y, const std::string& s, double alignX, double alignY) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    cairo_move_to(cr, x - e.x_bearing - alignX * e.width, y - e.y_bearing - alignY * e.height);
    cairo_show_text(cr, s.c_str());
}

void Colour(const std::string& map, double x, double rgb[3]) {
    x = std::clamp(x, -1.0, 1.0);
    if (map == "diverging") {
        const double blue[3] = {0.02, 0.19, 0.58}, red[3] = {0.70, 0.09, 0.17};
        const double* end = x < 0.0 ? blue : red;
        const double a = std::abs(x);
        for (int i = 0; i < 3; ++i) rgb[i] = (1.0 - a) + a * end[i];
    } else {
        rgb[0] = rgb[1] = rgb[2] = 0.5 + 0.5 * x;
    }
}

double Clip(const std::vector<const Panel*>& panels, double percentile) {
    std::vector<int32_t> mags;
    for (const Panel* p : panels)
        for (int16_t v : p->image()) mags.push_back(std::abs(static_cast<int32_t>(v)));
    if (mags.empty()) return 1.0;
    const double q = std::clamp(percentile, 0.0, 100.0) / 100.0;
    const size_t k = std::min(mags.size() - 1, static_cast<size_t>(q * static_cast<double>(mags.size() - 1) + 0.5));
    std::nth_element(mags.begin(), mags.begin() + static_cast<ptrdiff_t>(k), mags.end());
    return std::max(1, mags[k]);
}

struct Surface {
    cairo_surface_t* s;
    explicit Surface(cairo_surface_t* surface) : s(surface) {}
    ~Surface() { cairo_surface_destroy(s); }
};

// first, last: the panel's place in the row; the axis titles go on the outer
// sides only.
void DrawPanel(cairo_t* cr, const Panel& p, const PlotOptions& o, double clip, double x0, double y0, double w, double h,
               bool first, bool last) {
    const PanelAxes& a = p.axes();
    // The image, one pixel per column and row, scaled into the plot area.
    Surface img(cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(p.columns(), 1), p.rows()));
    const int stride = cairo_image_surface_get_stride(img.s);
    unsigned char* data = cairo_image_surface_get_data(img.s);
    for (int c = 0; c < p.columns(); ++c) {
        for (int r = 0; r < p.rows(); ++r) {
            double rgb[3];
            Colour(o.colourMap, p.image()[static_cast<size_t>(c) * p.rows() + r] / clip, rgb);
            const uint32_t px = (static_cast<uint32_t>(rgb[0] * 255.0 + 0.5) << 16) |
                                (static_cast<uint32_t>(rgb[1] * 255.0 + 0.5) << 8) |
                                static_cast<uint32_t>(rgb[2] * 255.0 + 0.5);
            std::memcpy(data + r * stride + 4 * c, &px, 4);
        }
    }
    cairo_surface_mark_dirty(img.s);
    cairo_save(cr);
    cairo_rectangle(cr, x0, y0, w, h);
    cairo_clip(cr);
    cairo_translate(cr, x0, y0);
    cairo_scale(cr, w / std::max(p.columns(), 1), h / p.rows());
    cairo_set_source_surface(cr, img.s, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);

    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, x0 + 0.5, y0 + 0.5, w - 1, h - 1);
    cairo_stroke(cr);
    cairo_set_font_size(cr, 11);
    Text(cr, x0 + w / 2, y0 - 6, p.title(), 0.5, 1.0);

    // Two-way time on the left, depth on the right.
    const double tTop = a.firstSampleTimeNs, tBottom = a.firstSampleTimeNs + a.samples * a.sampleIntervalNs;
    const auto yOfTime = [&](double t) { return y0 + (t - tTop) / (tBottom - tTop) * h; };
    const double ts = NiceStep(tBottom - tTop, 8);
    for (double t = std::ceil(tTop / ts) * ts; t <= tBottom; t += ts) {
        const double y = yOfTime(t);
        cairo_move_to(cr, x0, y);
        cairo_line_to(cr, x0 - 4, y);
        cairo_stroke(cr);
        Text(cr, x0 - 6, y, Number(t, ts), 1.0, 0.5);
    }
    if (first) {
        cairo_save(cr);
        cairo_translate(cr, x0 - kLeft + 2, y0 + h / 2);
        cairo_rotate(cr, -M_PI / 2);
        Text(cr, 0, 0, "two-way time (ns)", 0.5, 0.0);
        cairo_restore(cr);
    }
    if (o.velocity > 0.0 && tBottom > 0.0) {
        const double dMax = o.velocity * tBottom / 2.0, ds = NiceStep(dMax, 6);
        for (double d = 0.0; d <= dMax; d += ds) {
            const double y = yOfTime(2.0 * d / o.velocity);
            if (y < y0) continue;
            cairo_move_to(cr, x0 + w, y);
            cairo_line_to(cr, x0 + w + 4, y);
            cairo_stroke(cr);
            Text(cr, x0 + w + 6, y, Number(d, ds), 0.0, 0.5);
        }
        char label[64];
        std::snprintf(label, sizeof label, "depth (m) at %.3g m/ns", o.velocity);
        if (last) {
            cairo_save(cr);
            cairo_translate(cr, x0 + w + kRight - 2, y0 + h / 2);
            cairo_rotate(cr, M_PI / 2);
            Text(cr, 0, 0, label, 0.5, 0.0);
            cairo_restore(cr);
        }
    }

    // Distance (or trace number) along the bottom.
    const bool metres = a.endM > a.startM;
    const double lo = metres ? a.startM : 0.0, hi = metres ? a.endM : static_cast<double>(std::max<int64_t>(a.traces - 1, 1));
    const double xs = NiceStep(hi - lo, std::max(2, static_cast<int>(w / 70)));
    for (double d = std::ceil(lo / xs) * xs; d <= hi + xs * 1e-9; d += xs) {
        const double x = x0 + (d - lo) / (hi - lo) * w;
        cairo_move_to(cr, x, y0 + h);
        cairo_line_to(cr, x, y0 + h + 4);
        cairo_stroke(cr);
        Text(cr, x, y0 + h + 6, Number(d, xs), 0.5, 0.0);
    }
    Text(cr, x0 + w / 2, y0 + h + 24, metres ? "distance (m)" : "trace", 0.5, 0.0);
}

void DrawColourBar(cairo_t* cr, const PlotOptions& o, double clip, double x0, double y0, double h) {
    const int steps = 128;
    for (int i = 0; i < steps; ++i) {
        double rgb[3];
        Colour(o.colourMap, 1.0 - 2.0 * (i + 0.5) / steps, rgb);
        cairo_set_source_rgb(cr, rgb[0], rgb[1], rgb[2]);
        cairo_rectangle(cr, x0, y0 + h * i / steps, 14, h / steps + 0.5);
        cairo_fill(cr);
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, x0 + 0.5, y0 + 0.5, 13, h - 1);
    cairo_stroke(cr);
    char buf[32];
    // clip 0: each panel has its own clip.
    for (int k = -1; k <= 1; ++k) {
        if (clip > 0.0)
            std::snprintf(buf, sizeof buf, "%+.0f", -k * clip);
        else
            std::snprintf(buf, sizeof buf, "%sclip", k < 0 ? "+" : "-");
        Text(cr, x0 + 18, y0 + h * (k + 1) / 2.0, k == 0 ? "0" : buf, 0.0, 0.5);
    }
    std::snprintf(buf, sizeof buf, "clip %g%%", o.clipPercentile);
    Text(cr, x0 - 4, y0 + h + 8, buf, 0.0, 0.0);
}

void Draw(cairo_t* cr, const std::vector<const Panel*>& panels, const PlotOptions& o) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 13);
    Text(cr, o.width / 2.0, 8, o.title, 0.5, 0.0);
    const double clip = Clip(panels, o.clipPercentile);
    const double pw = static_cast<double>(o.width - kBar) / std::max<size_t>(panels.size(), 1);
    const double h = o.height - kTop - kBottom;
    for (size_t i = 0; i < panels.size(); ++i) {
        const double own = o.oneScale ? clip : Clip({panels[i]}, o.clipPercentile);
        DrawPanel(cr, *panels[i], o, own, i * pw + kLeft, kTop, pw - kLeft - kRight, h, i == 0, i + 1 == panels.size());
    }
    DrawColourBar(cr, o, o.oneScale ? clip : 0.0, o.width - kBar + 14, kTop, h);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

void WritePicture(const std::string& path, const std::vector<const Panel*>& panels, const PlotOptions& o) {
    const size_t dot = path.find_last_of('.');
    const std::string ext = dot == std::string::npos ? "" : Lower(path.substr(dot));
    if (ext != ".png" && ext != ".pdf" && ext != ".svg")
        throw std::runtime_error(path + ": unknown picture type '" + ext + "' (use .png, .pdf or .svg)");
    if (o.width < 200 || o.height < 150 || o.width > 20000 || o.height > 20000)
        throw std::runtime_error(path + ": picture size must be 200 x 150 to 20000 x 20000 pixels");
    const std::string temp = path + ".part";
    cairo_surface_t* surface = ext == ".png"   ? cairo_image_surface_create(CAIRO_FORMAT_RGB24, o.width, o.height)
                               : ext == ".pdf" ? cairo_pdf_surface_create(temp.c_str(), o.width, o.height)
                                               : cairo_svg_surface_create(temp.c_str(), o.width, o.height);
    Surface owner(surface);
    cairo_t* cr = cairo_create(surface);
    Draw(cr, panels, o);
    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status == CAIRO_STATUS_SUCCESS) {
        if (ext == ".png") {
            status = cairo_surface_write_to_png(surface, temp.c_str());
        } else {
            cairo_surface_finish(surface);
            status = cairo_surface_status(surface);
        }
    }
    if (status != CAIRO_STATUS_SUCCESS || std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        throw std::runtime_error(path + ": cannot write the picture (" +
                                 (status != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(status) : std::strerror(errno)) + ")");
    }
}

void ReleasePictureCaches() {
    cairo_debug_reset_static_data();
    FcFini();
}

}  // namespace vantir3_cli
