#include "assets/texture.h"
#include "archive/regular_file.h"
#include "fixed_texts.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <string>
#include <vector>

Texture::Texture(int32_t width, int32_t height)
    : width(width), height(height), pixels(new uint32_t[size_t(width) * size_t(height)]),
      glName(kNoGlName) {}

Texture::~Texture() {
  if (glName != kNoGlName) {
    GLuint name = glName;
    glDeleteTextures(1, &name);
    glName = kNoGlName;
  }
}

uint32_t Texture::createGlTexture() {
  GLuint name = 0;
  glGenTextures(1, &name);
  glName = name;
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  // GLU rescales sides that are not powers of two and builds every level.
  gluBuild2DMipmaps(GL_TEXTURE_2D, 4, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.get());
  return glName;
}

void Texture::bind() {
  if (glName == kNoGlName) {
    createGlTexture();
  }
  glBindTexture(GL_TEXTURE_2D, glName);
}

// PNG decoding. libpng reports errors by long-jumping back to the setjmp in
// the function that called it, so each step that calls into the library is a
// function of its own holding only trivially destructible locals: the jump
// skips no destructor, and the C++ objects (file, buffers, texture) live in
// the caller, which releases them on every way out.
namespace {

// libpng buffers a whole chunk before decoding it; a chunk length from a
// damaged file must not become an allocation of gigabytes.
constexpr png_alloc_size_t kLargestBufferedChunk = 8 << 20;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// The read structure with both info structures, destroyed together.
struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_infop endInfo = nullptr;

  PngReader() {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) {
      throw std::string(kOutOfMemoryText);
    }
    info = png_create_info_struct(png);
    endInfo = png_create_info_struct(png);
    if (!info || !endInfo) {
      destroy();
      throw std::string(kOutOfMemoryText);
    }
  }
  ~PngReader() { destroy(); }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  void destroy() {
    if (png) {
      png_destroy_read_struct(&png, &info, &endInfo);
    }
  }
};

// A short read is an error: the file ended before the data libpng needs.
void readFromFile(png_structp png, png_bytep data, png_size_t length) {
  FILE* file = static_cast<FILE*>(png_get_io_ptr(png));
  if (std::fread(data, 1, length, file) != length) {
    png_error(png, "Read error: file truncated");
  }
}

struct ImageLayout {
  png_uint_32 width;
  png_uint_32 height;
  int channels; // 3 (RGB) or 4 (RGBA) after the transformations
  size_t rowBytes;
};

// Reads the chunks up to the image data and asks for 8-bit RGB or RGBA rows:
// RGB and grey get an opaque filler, grey becomes RGB, palettes expand to
// RGB (RGBA where a transparency chunk gives alpha), 16-bit keeps the high byte.
bool readHeader(const PngReader& reader, ImageLayout& layout) {
  png_structp png = reader.png;
  png_infop info = reader.info;
  if (setjmp(png_jmpbuf(png))) {
    return false;
  }
  // Checked with the header, before any buffer is sized by it.
  png_set_user_limits(png, kLargestPictureSide, kLargestPictureSide);
  png_set_chunk_malloc_max(png, kLargestBufferedChunk);
  // Only the chunks that make the image matter (a negative count keeps the
  // header, palette, transparency, data and end chunks): text, profiles
  // and the rest are skipped over rather than buffered.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_read_info(png, info);

  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);

  if (bitDepth == 16) {
    png_set_strip_16(png);
  }
  switch (colorType) {
  case PNG_COLOR_TYPE_PALETTE:
    png_set_expand(png);
    break;
  case PNG_COLOR_TYPE_RGB:
    png_set_filler(png, 255, PNG_FILLER_AFTER);
    break;
  case PNG_COLOR_TYPE_GRAY:
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 255, PNG_FILLER_AFTER);
    break;
  case PNG_COLOR_TYPE_GRAY_ALPHA:
    png_set_gray_to_rgb(png);
    break;
  default: // RGBA needs nothing
    break;
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  layout.width = width;
  layout.height = height;
  layout.channels = png_get_channels(png, info);
  layout.rowBytes = png_get_rowbytes(png, info);
  return true;
}

bool readRows(const PngReader& reader, png_bytepp rows) {
  if (setjmp(png_jmpbuf(reader.png))) {
    return false;
  }
  png_read_image(reader.png, rows);
  png_read_end(reader.png, reader.endInfo);
  return true;
}

// Rows of 8-bit RGB (palette images: alpha 0) or RGBA into the texture's words.
void convertRows(const png_byte* image, const ImageLayout& layout, Texture& texture) {
  uint8_t* out = reinterpret_cast<uint8_t*>(texture.pixels.get());
  for (png_uint_32 y = 0; y < layout.height; ++y) {
    const png_byte* in = image + y * layout.rowBytes;
    for (png_uint_32 x = 0; x < layout.width; ++x) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      out[3] = layout.channels == 4 ? in[3] : 0;
      out += 4;
      in += layout.channels;
    }
  }
}

} // namespace

std::unique_ptr<Texture> loadTexture(std::string name) {
  std::unique_ptr<FILE, FileCloser> file(openRegularFile(name.c_str()));
  if (!file) {
    throw std::string(kFileNotFoundText);
  }
  PngReader reader;
  png_set_read_fn(reader.png, file.get(), readFromFile);

  ImageLayout layout{};
  if (!readHeader(reader, layout)) {
    throw std::string(kNotAPngText);
  }
  if ((layout.channels != 3 && layout.channels != 4) ||
      layout.rowBytes != size_t(layout.width) * size_t(layout.channels)) {
    throw std::string(kNotAPngText);
  }

  auto texture = std::make_unique<Texture>(static_cast<int32_t>(layout.width),
                                           static_cast<int32_t>(layout.height));
  // Left uninitialised: libpng writes every row before it is converted, and
  // a file that breaks off fails before any row is used. (A plain new[]: the
  // web build's C++ library has no make_unique_for_overwrite.)
  std::unique_ptr<png_byte[]> image(new png_byte[layout.rowBytes * layout.height]);
  std::vector<png_bytep> rows(layout.height);
  for (png_uint_32 y = 0; y < layout.height; ++y) {
    rows[y] = image.get() + y * layout.rowBytes;
  }
  if (!readRows(reader, rows.data())) {
    throw std::string(kNotAPngText);
  }
  convertRows(image.get(), layout, *texture);
  return texture;
}
