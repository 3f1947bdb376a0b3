#include "ui/dui/win32/gdiplus_surface.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <unordered_map>

#include "common/text.h"

namespace orlin::dui::win32 {

namespace {

Gdiplus::Color ToColor(Color c) { return Gdiplus::Color(static_cast<Gdiplus::ARGB>(c)); }

std::string FontKey(const FontSpec& f, bool cjk) {
  return f.family + '|' + std::to_string(f.size) + (f.bold ? "b" : "") + (f.italic ? "i" : "") +
         (f.underline ? "u" : "") + (cjk ? "c" : "");
}

std::vector<std::wstring> Families(const std::string& list) {
  std::vector<std::wstring> out;
  std::wstring all = Utf8ToWide(list);
  std::size_t start = 0;
  while (start <= all.size()) {
    std::size_t comma = all.find(L',', start);
    std::wstring name = all.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
    const auto first = name.find_first_not_of(L' ');
    const auto last = name.find_last_not_of(L' ');
    if (first != std::wstring::npos) out.push_back(name.substr(first, last - first + 1));
    if (comma == std::wstring::npos) break;
    start = comma + 1;
  }
  return out;
}

// Whether the font of that family draws CJK characters itself.
bool FamilyHasCjk(const std::wstring& family) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  if (!dc) return false;
  HFONT font = ::CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, family.c_str());
  bool has = false;
  if (font) {
    HGDIOBJ old = ::SelectObject(dc, font);
    WORD glyph = 0xFFFF;
    const wchar_t probe[] = L"\u4E2D";
    has = ::GetGlyphIndicesW(dc, probe, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 && glyph != 0xFFFF;
    ::SelectObject(dc, old);
    ::DeleteObject(font);
  }
  ::DeleteDC(dc);
  return has;
}

// Labels are single lines unless they break words: a line break of a
// single-line text shows as a blank.
std::wstring ShownText(const std::wstring& text, unsigned style) {
  if (!(style & kDtSingleLine)) return text;
  std::wstring out = text;
  std::replace(out.begin(), out.end(), L'\n', L' ');
  out.erase(std::remove(out.begin(), out.end(), L'\r'), out.end());
  return out;
}

bool PngEncoder(CLSID* clsid) {
  UINT count = 0, bytes = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) return false;
  std::vector<unsigned char> buffer(bytes);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(codecs[i].MimeType) == L"image/png") {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

// A rounded rectangle as a polygon: the quarter circles in short straight
// pieces, so every GDI+ draws them alike.
void RoundedOutline(Gdiplus::GraphicsPath& path, const RectF& r, float radius) {
  const float w = r.right - r.left, h = r.bottom - r.top;
  const float rad = std::min(radius, std::min(w, h) / 2);
  constexpr int kSteps = 8;
  constexpr float kQuarter = 1.5707963f;
  const struct {
    float cx, cy, start;
  } corners[4] = {{r.right - rad, r.top + rad, -kQuarter},
                  {r.right - rad, r.bottom - rad, 0},
                  {r.left + rad, r.bottom - rad, kQuarter},
                  {r.left + rad, r.top + rad, 2 * kQuarter}};
  std::vector<Gdiplus::PointF> points;
  for (const auto& c : corners) {
    for (int i = 0; i <= kSteps; ++i) {
      const float a = c.start + kQuarter * static_cast<float>(i) / kSteps;
      points.emplace_back(c.cx + rad * std::cos(a), c.cy + rad * std::sin(a));
    }
  }
  path.AddPolygon(points.data(), static_cast<INT>(points.size()));
}

}  // namespace

bool HasCjk(const std::wstring& text) {
  return std::any_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0x2E80 && c < 0xFF00; });
}

// ------------------------------------------------------------ resources

struct GdiplusResources::ThreadState {
  HDC dc = nullptr;
  std::unique_ptr<Gdiplus::Graphics> measure;
  std::map<std::string, std::unique_ptr<Gdiplus::Font>> fonts;
  std::map<unsigned, std::unique_ptr<Gdiplus::StringFormat>> formats;
  // Extents measured before, by font, style, width and text. A layout pass
  // measures the same texts again and again (every row of a list that keeps
  // its texts); each GDI+ measure makes and drops a device context, which
  // under Wine is a round trip to the X server.
  std::unordered_map<std::wstring, Size> extents;
  ~ThreadState() {
    formats.clear();
    fonts.clear();
    measure.reset();
    if (dc) ::DeleteDC(dc);
  }
};

GdiplusResources::GdiplusResources() {
  Gdiplus::GdiplusStartupInput input;
  Gdiplus::GdiplusStartup(&token_, &input, nullptr);
}

GdiplusResources::~GdiplusResources() {
  threads_.clear();
  images_.clear();
  for (auto& [key, font] : gdiFonts_) ::DeleteObject(font);
  if (token_) Gdiplus::GdiplusShutdown(token_);
}

GdiplusResources::ThreadState& GdiplusResources::ThisThread() {
  std::lock_guard lock(mutex_);
  auto& state = threads_[std::this_thread::get_id()];
  if (!state) {
    state = std::make_unique<ThreadState>();
    state->dc = ::CreateCompatibleDC(nullptr);
    state->measure = std::make_unique<Gdiplus::Graphics>(state->dc);
    state->measure->SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
    state->measure->SetPageUnit(Gdiplus::UnitPixel);
  }
  return *state;
}

std::wstring GdiplusResources::FamilyFor(const FontSpec& spec, bool cjk) {
  const std::string key = spec.family + (cjk ? "|cjk" : "");
  {
    std::lock_guard lock(mutex_);
    if (auto it = families_.find(key); it != families_.end()) return it->second;
  }
  std::wstring chosen, firstAvailable;
  for (const std::wstring& name : Families(spec.family)) {
    Gdiplus::FontFamily family(name.c_str());
    if (!family.IsAvailable()) continue;
    if (firstAvailable.empty()) firstAvailable = name;
    if (!cjk || FamilyHasCjk(name)) {
      chosen = name;
      break;
    }
  }
  if (chosen.empty()) chosen = firstAvailable;
  std::lock_guard lock(mutex_);
  families_[key] = chosen;
  return chosen;
}

Gdiplus::Font* GdiplusResources::GetFont(const FontSpec& spec, bool cjk) {
  ThreadState& state = ThisThread();
  const std::string key = FontKey(spec, cjk);
  if (auto it = state.fonts.find(key); it != state.fonts.end()) return it->second.get();
  INT style = Gdiplus::FontStyleRegular;
  if (spec.bold) style |= Gdiplus::FontStyleBold;
  if (spec.italic) style |= Gdiplus::FontStyleItalic;
  if (spec.underline) style |= Gdiplus::FontStyleUnderline;
  const auto size = static_cast<Gdiplus::REAL>(std::max(spec.size, 1));
  const std::wstring family = FamilyFor(spec, cjk);
  std::unique_ptr<Gdiplus::Font> font;
  if (!family.empty()) font = std::make_unique<Gdiplus::Font>(family.c_str(), size, style, Gdiplus::UnitPixel);
  if (!font || font->GetLastStatus() != Gdiplus::Ok) {
    font = std::make_unique<Gdiplus::Font>(Gdiplus::FontFamily::GenericSansSerif(), size, style, Gdiplus::UnitPixel);
  }
  return state.fonts.emplace(key, std::move(font)).first->second.get();
}

HFONT GdiplusResources::GetGdiFont(const FontSpec& spec) {
  const std::string key = FontKey(spec, true);
  const std::wstring family = FamilyFor(spec, true);
  std::lock_guard lock(mutex_);
  if (auto it = gdiFonts_.find(key); it != gdiFonts_.end()) return it->second;
  HFONT font = ::CreateFontW(-std::max(spec.size, 1), 0, 0, 0, spec.bold ? FW_BOLD : FW_NORMAL, spec.italic,
                             spec.underline, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_DONTCARE, family.c_str());
  gdiFonts_[key] = font;
  return font;
}

Gdiplus::StringFormat* GdiplusResources::GetFormat(unsigned style) {
  ThreadState& state = ThisThread();
  if (auto it = state.formats.find(style); it != state.formats.end()) return it->second.get();
  auto format = std::make_unique<Gdiplus::StringFormat>(Gdiplus::StringFormat::GenericTypographic());
  INT flags = format->GetFormatFlags() | Gdiplus::StringFormatFlagsMeasureTrailingSpaces;
  if ((style & kDtSingleLine) || !(style & kDtWordBreak)) flags |= Gdiplus::StringFormatFlagsNoWrap;
  format->SetFormatFlags(flags);
  format->SetAlignment((style & kDtCenter)  ? Gdiplus::StringAlignmentCenter
                       : (style & kDtRight) ? Gdiplus::StringAlignmentFar
                                            : Gdiplus::StringAlignmentNear);
  format->SetLineAlignment((style & kDtVCenter)   ? Gdiplus::StringAlignmentCenter
                           : (style & kDtBottom) ? Gdiplus::StringAlignmentFar
                                                 : Gdiplus::StringAlignmentNear);
  format->SetTrimming((style & kDtEndEllipsis) ? Gdiplus::StringTrimmingEllipsisCharacter
                                                : Gdiplus::StringTrimmingNone);
  return state.formats.emplace(style, std::move(format)).first->second.get();
}

Size GdiplusResources::MeasureText(const std::wstring& text, const FontSpec& spec, unsigned style, int maxWidth) {
  ThreadState& state = ThisThread();
  const bool cjk = HasCjk(text);
  const bool wrap = (style & kDtWordBreak) && !(style & kDtSingleLine) && maxWidth > 0;
  // Alignment plays no part in an extent, nor does the width a text that
  // does not wrap is given.
  const unsigned measured = style & ~(kDtCenter | kDtRight | kDtVCenter | kDtBottom | kDtEndEllipsis);
  std::wstring key = Utf8ToWide(FontKey(spec, cjk));
  key += L'\x1F' + std::to_wstring(measured) + L'\x1F' + std::to_wstring(wrap ? maxWidth : 0) + L'\x1F' + text;
  if (auto it = state.extents.find(key); it != state.extents.end()) return it->second;
  // Bounded: what a window shows at a time fits many times over.
  if (state.extents.size() >= kMaxKeptExtents) state.extents.clear();
  const Size extent = Measure(state, text, spec, cjk, measured, wrap ? maxWidth : 0);
  state.extents.emplace(std::move(key), extent);
  return extent;
}

Size GdiplusResources::Measure(ThreadState& state, const std::wstring& text, const FontSpec& spec, bool cjk,
                               unsigned style, int wrapWidth) {
  Gdiplus::Font* font = GetFont(spec, cjk);
  const std::wstring shown = ShownText(text, style);
  if (shown.empty()) return Size{0, static_cast<int>(std::ceil(font->GetHeight(state.measure.get())))};
  // Measured left and top aligned.
  Gdiplus::StringFormat* format = GetFormat(style);
  const Gdiplus::RectF layout(0, 0, wrapWidth > 0 ? static_cast<Gdiplus::REAL>(wrapWidth) : 1e6f, 1e6f);
  Gdiplus::RectF bounds;
  state.measure->MeasureString(shown.c_str(), static_cast<INT>(shown.size()), font, layout, format, &bounds);
  // Whole pixels rounded up: a text drawn in a rectangle of its own
  // measured width must not be cut or shortened.
  return Size{static_cast<int>(std::ceil(bounds.Width - 0.01f)), static_cast<int>(std::ceil(bounds.Height - 0.01f))};
}

GdiplusResources::Image* GdiplusResources::GetImage(const std::filesystem::path& file) {
  std::lock_guard lock(mutex_);
  if (auto it = images_.find(file); it != images_.end()) return it->second->bitmap ? it->second.get() : nullptr;
  auto image = std::make_unique<Image>();
  // Decoded from memory: a bitmap made from a file keeps the file locked.
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  IStream* stream = nullptr;
  if (!bytes.empty() && SUCCEEDED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream))) {
    ULONG written = 0;
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    {
      Gdiplus::Bitmap decoded(stream);
      if (decoded.GetLastStatus() == Gdiplus::Ok && decoded.GetWidth() > 0 && decoded.GetHeight() > 0) {
        const int w = static_cast<int>(decoded.GetWidth());
        const int h = static_cast<int>(decoded.GetHeight());
        auto premultiplied = std::make_unique<Gdiplus::Bitmap>(w, h, PixelFormat32bppPARGB);
        Gdiplus::Graphics g(premultiplied.get());
        g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
        if (g.DrawImage(&decoded, 0, 0, w, h) == Gdiplus::Ok) {
          image->bitmap = std::move(premultiplied);
          image->size = Size{w, h};
        }
      }
    }
    stream->Release();
  }
  Image* out = image->bitmap ? image.get() : nullptr;
  images_.emplace(file, std::move(image));
  return out;
}

HICON GdiplusResources::MakeIcon(const std::filesystem::path& file, int size) {
  Image* image = GetImage(file);
  if (!image) return nullptr;
  std::lock_guard lock(image->mutex);
  Gdiplus::Bitmap scaled(size, size, PixelFormat32bppARGB);
  Gdiplus::Graphics g(&scaled);
  g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  g.DrawImage(image->bitmap.get(), 0, 0, size, size);
  HICON icon = nullptr;
  if (scaled.GetHICON(&icon) != Gdiplus::Ok) return nullptr;
  return icon;
}

// -------------------------------------------------------------- surface

GdiplusSurface::GdiplusSurface(Gdiplus::Graphics& graphics, GdiplusResources& resources)
    : g_(graphics), resources_(resources) {}

void GdiplusSurface::FillRect(const Rect& r, Color color) {
  if (r.IsEmpty()) return;
  Gdiplus::SolidBrush brush(ToColor(color));
  g_.SetSmoothingMode(Gdiplus::SmoothingModeNone);
  g_.FillRectangle(&brush, r.left, r.top, r.Width(), r.Height());
}

void GdiplusSurface::DrawRoundRect(const RectF& r, float radius, Color fill, Color line, float lineWidth) {
  const float w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  if (radius <= 0) {
    // Square shapes in whole pixels: the outline as four bars, so a line on
    // the window's last row or column is never rounded off it.
    const float half = line ? lineWidth / 2 : 0;
    const Rect outer{static_cast<int>(std::lround(r.left - half)), static_cast<int>(std::lround(r.top - half)),
                     static_cast<int>(std::lround(r.right + half)), static_cast<int>(std::lround(r.bottom + half))};
    if (fill) FillRect(outer, fill);
    if (!line || lineWidth <= 0) return;
    const int t = std::max(1, static_cast<int>(std::lround(lineWidth)));
    FillRect(Rect{outer.left, outer.top, outer.right, outer.top + t}, line);
    FillRect(Rect{outer.left, outer.bottom - t, outer.right, outer.bottom}, line);
    FillRect(Rect{outer.left, outer.top + t, outer.left + t, outer.bottom - t}, line);
    FillRect(Rect{outer.right - t, outer.top + t, outer.right, outer.bottom - t}, line);
    return;
  }
  Gdiplus::GraphicsPath path;
  RoundedOutline(path, r, radius);
  g_.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  if (fill) {
    Gdiplus::SolidBrush brush(ToColor(fill));
    g_.FillPath(&brush, &path);
    if (!line && (fill >> 24) == 0xFF && w > 2 && h > 2) {
      // The edge once more as an antialiased line just inside it: where a
      // fill is not antialiased (Wine's) the corners come out smooth, and
      // an opaque colour over itself changes nothing elsewhere.
      Gdiplus::GraphicsPath edge;
      RoundedOutline(edge, RectF{r.left + 0.5f, r.top + 0.5f, r.right - 0.5f, r.bottom - 0.5f},
                     std::max(radius - 0.5f, 0.5f));
      Gdiplus::Pen pen(ToColor(fill), 1);
      g_.DrawPath(&pen, &edge);
    }
  }
  if (line && lineWidth > 0) {
    Gdiplus::Pen pen(ToColor(line), lineWidth);
    g_.DrawPath(&pen, &path);
  }
  g_.SetSmoothingMode(Gdiplus::SmoothingModeNone);
}

void GdiplusSurface::DrawPolyline(const std::vector<PointF>& points, Color line, float lineWidth) {
  if (points.size() < 2) return;
  std::vector<Gdiplus::PointF> p;
  for (const PointF& pt : points) p.emplace_back(pt.x, pt.y);
  Gdiplus::Pen pen(ToColor(line), lineWidth);
  pen.SetLineCap(Gdiplus::LineCapSquare, Gdiplus::LineCapSquare, Gdiplus::DashCapFlat);
  pen.SetLineJoin(Gdiplus::LineJoinBevel);
  g_.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  g_.DrawLines(&pen, p.data(), static_cast<INT>(p.size()));
  g_.SetSmoothingMode(Gdiplus::SmoothingModeNone);
}

std::optional<Size> GdiplusSurface::ImageSize(const std::filesystem::path& file) {
  GdiplusResources::Image* image = resources_.GetImage(file);
  if (!image) return std::nullopt;
  return image->size;
}

void GdiplusSurface::DrawImage(const std::filesystem::path& file, const Rect& dest, const Rect& source) {
  GdiplusResources::Image* image = resources_.GetImage(file);
  if (!image || dest.IsEmpty() || source.IsEmpty()) return;
  std::lock_guard lock(image->mutex);
  // Edge pixels are repeated outwards, not blended with transparency, when
  // a part of an image is stretched.
  Gdiplus::ImageAttributes attributes;
  attributes.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  const bool same = dest.Width() == source.Width() && dest.Height() == source.Height();
  g_.SetInterpolationMode(same ? Gdiplus::InterpolationModeNearestNeighbor
                               : Gdiplus::InterpolationModeHighQualityBicubic);
  g_.DrawImage(image->bitmap.get(), Gdiplus::Rect(dest.left, dest.top, dest.Width(), dest.Height()), source.left,
               source.top, source.Width(), source.Height(), Gdiplus::UnitPixel, &attributes);
}

void GdiplusSurface::DrawText(const Rect& r, const std::wstring& text, const FontSpec& font, Color color,
                              unsigned style) {
  const std::wstring shown = ShownText(text, style);
  if (shown.empty() || r.IsEmpty()) return;
  Gdiplus::SolidBrush brush(ToColor(color));
  const Gdiplus::RectF layout(static_cast<Gdiplus::REAL>(r.left), static_cast<Gdiplus::REAL>(r.top),
                              static_cast<Gdiplus::REAL>(r.Width()), static_cast<Gdiplus::REAL>(r.Height()));
  g_.DrawString(shown.c_str(), static_cast<INT>(shown.size()), resources_.GetFont(font, HasCjk(shown)), layout,
                resources_.GetFormat(style), &brush);
}

void GdiplusSurface::Save() { saved_.push_back(g_.Save()); }

void GdiplusSurface::Restore() {
  if (saved_.empty()) return;
  g_.Restore(saved_.back());
  saved_.pop_back();
}

void GdiplusSurface::ClipRect(const Rect& r) {
  g_.IntersectClip(Gdiplus::Rect(r.left, r.top, std::max(r.Width(), 0), std::max(r.Height(), 0)));
}

void GdiplusSurface::Translate(int dx, int dy) {
  g_.TranslateTransform(static_cast<Gdiplus::REAL>(dx), static_cast<Gdiplus::REAL>(dy));
}

// ---------------------------------------------------------- paint buffer

PaintBuffer::PaintBuffer(HDC target, int width, int height)
    : width_(std::max(width, 1)), height_(std::max(height, 1)) {
  dc_ = ::CreateCompatibleDC(target);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width_;
  info.bmiHeader.biHeight = -height_;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_ = ::CreateDIBSection(target, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  old_ = ::SelectObject(dc_, bitmap_);
  graphics_ = std::make_unique<Gdiplus::Graphics>(dc_);
  graphics_->SetPageUnit(Gdiplus::UnitPixel);
  graphics_->SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
  graphics_->SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  graphics_->SetCompositingQuality(Gdiplus::CompositingQualityHighSpeed);
}

PaintBuffer::~PaintBuffer() {
  graphics_.reset();
  ::SelectObject(dc_, old_);
  ::DeleteObject(bitmap_);
  ::DeleteDC(dc_);
}

void PaintBuffer::CopyTo(HDC target, int x, int y) {
  graphics_->Flush(Gdiplus::FlushIntentionSync);
  ::BitBlt(target, x, y, width_, height_, dc_, 0, 0, SRCCOPY);
}

bool SavePng(HBITMAP bitmap, const std::filesystem::path& file) {
  CLSID png;
  if (!PngEncoder(&png)) return false;
  Gdiplus::Bitmap image(bitmap, nullptr);
  if (image.GetLastStatus() != Gdiplus::Ok) return false;
  return image.Save(file.wstring().c_str(), &png, nullptr) == Gdiplus::Ok;
}

}  // namespace orlin::dui::win32
