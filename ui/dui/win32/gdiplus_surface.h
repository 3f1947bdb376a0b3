#pragma once
// GDI+ behind the paint pass: images and fonts shared by every window of
// the process, and the surface one paint draws on.
//
// Threads: windows of several threads paint at once, and a GDI+ object
// serves one thread at a time. Images are drawn under their own lock; fonts,
// string formats and the measuring context are kept per thread.

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/dui/render_engine.h"

namespace orlin::dui::win32 {

class GdiplusResources {
 public:
  GdiplusResources();  // starts GDI+
  ~GdiplusResources(); // after every object made here is gone
  GdiplusResources(const GdiplusResources&) = delete;
  GdiplusResources& operator=(const GdiplusResources&) = delete;

  // An image file decoded once (premultiplied, the fastest to draw); null
  // when it cannot be read. Draw it with its mutex held.
  struct Image {
    std::mutex mutex;
    std::unique_ptr<Gdiplus::Bitmap> bitmap;
    Size size;
  };
  Image* GetImage(const std::filesystem::path& file);

  // The calling thread's font for `spec`, in the first family of its list
  // this system has; for text with CJK characters the first family that has
  // them. Never null.
  Gdiplus::Font* GetFont(const FontSpec& spec, bool cjk);
  // A GDI font of the same pixel size for native children (edits, combo
  // boxes), from the first family of the font's list that has Chinese glyphs: GDI
  // draws a native control's text in that one face without falling back to
  // another, and what a user types or a language lists may be Chinese.
  HFONT GetGdiFont(const FontSpec& spec);
  // The string format for the label text style flags (calling thread's).
  Gdiplus::StringFormat* GetFormat(unsigned style);
  Size MeasureText(const std::wstring& text, const FontSpec& font, unsigned style, int maxWidth);
  // A 32-bit icon made from an image file, or null; the caller destroys it.
  HICON MakeIcon(const std::filesystem::path& file, int size);

 private:
  struct ThreadState;
  static constexpr std::size_t kMaxKeptExtents = 4096;
  ThreadState& ThisThread();
  // A GDI+ measure of `text` (style without alignment; wrapped at
  // `wrapWidth` when it is above 0).
  Size Measure(ThreadState& state, const std::wstring& text, const FontSpec& spec, bool cjk, unsigned style,
               int wrapWidth);
  std::wstring FamilyFor(const FontSpec& spec, bool cjk);

  ULONG_PTR token_ = 0;
  std::mutex mutex_;
  std::map<std::filesystem::path, std::unique_ptr<Image>> images_;
  std::map<std::thread::id, std::unique_ptr<ThreadState>> threads_;
  std::map<std::string, std::wstring> families_;
  std::map<std::string, HFONT> gdiFonts_;
};

// True when `text` holds a character of the CJK blocks.
bool HasCjk(const std::wstring& text);

// The paint pass's surface on a GDI+ graphics.
class GdiplusSurface : public RenderSurface {
 public:
  GdiplusSurface(Gdiplus::Graphics& graphics, GdiplusResources& resources);

  void FillRect(const Rect& r, Color color) override;
  void DrawRoundRect(const RectF& r, float radius, Color fill, Color line, float lineWidth) override;
  void DrawPolyline(const std::vector<PointF>& points, Color line, float lineWidth) override;
  std::optional<Size> ImageSize(const std::filesystem::path& file) override;
  void DrawImage(const std::filesystem::path& file, const Rect& dest, const Rect& source) override;
  void DrawText(const Rect& r, const std::wstring& text, const FontSpec& font, Color color, unsigned style) override;
  void Save() override;
  void Restore() override;
  void ClipRect(const Rect& r) override;
  void Translate(int dx, int dy) override;

 private:
  Gdiplus::Graphics& g_;
  GdiplusResources& resources_;
  std::vector<Gdiplus::GraphicsState> saved_;
};

// A memory bitmap one paint draws on before it goes to the screen at once.
class PaintBuffer {
 public:
  PaintBuffer(HDC target, int width, int height);
  ~PaintBuffer();
  PaintBuffer(const PaintBuffer&) = delete;
  PaintBuffer& operator=(const PaintBuffer&) = delete;
  // Set for the pass: antialiased text, half-pixel offsets (pixel centres
  // at .5, as the pass counts them).
  Gdiplus::Graphics& Graphics() { return *graphics_; }
  HDC Dc() const { return dc_; }
  HBITMAP Bitmap() const { return bitmap_; }
  // Copies the buffer to `target` at (x, y).
  void CopyTo(HDC target, int x, int y);

 private:
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  int width_ = 0, height_ = 0;
  std::unique_ptr<Gdiplus::Graphics> graphics_;
};

// Saves a GDI bitmap as a PNG file.
bool SavePng(HBITMAP bitmap, const std::filesystem::path& file);

}  // namespace orlin::dui::win32
