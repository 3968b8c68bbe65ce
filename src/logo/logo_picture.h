#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

namespace pellicar {

class LogoRecordCache;

// A logo bitmap file turned into the dots the printer prints.
//
// The colour rule: in a bitmap of more than one bit per pixel every pixel
// that is not exactly white is a dot (alpha is ignored; a 16-bit or
// bit-field pixel is white when each channel is at its maximum). A one-bit
// bitmap keeps its two palette colours, and a pixel is a dot where its
// colour's blue is below 128, whatever its bit value.
//
// Only Windows bitmap files are read (the variants BmpHeader accepts),
// by our own decoder: no graphics library is loaded.
// Pixels an RLE stream skips (delta, early end of line or of bitmap)
// print no dot, whatever colour index 0 has.
// The headers are checked before any pixel is decoded; at most the
// headers and the pixel data the checked size needs are read from the
// file, so a file claiming an absurd size costs neither time nor memory.
struct LogoPicture {
  enum class Fault {
    None,
    Missing,  // the file does not exist or cannot be opened
    Invalid,  // not a bitmap file that can be read, or 0 wide/high, or
              // wider than kMaxWidth
    TooLarge, // its record would take more than the room given
  };

  static constexpr int kMaxWidth = 576;

  Fault fault = Fault::Missing;
  // When refused: the one reason that applies, in words, for messages that
  // name it ("wider than 576 pixels: 577 pixels wide", "not a BMP file but
  // a PNG image", "cut short before its last pixel").
  QString reason;
  // The bytes of its record (LogoRecordSize) once its headers were read,
  // also when it was refused as TooLarge; 0 before.
  qint64 recordBytes = 0;
  // When fault is None: its size in pixels.
  qint64 width = 0, height = 0;
  // When fault is None: its record (logo_raster.h), recordBytes long.
  QByteArray record;

  // Whether the pixel in column x, row y (from the top) prints; false
  // outside the picture or when it was refused.
  bool isDot(qint64 x, qint64 y) const;

  // Reads the file at `path`. `room` is the number of bytes its record
  // (LogoRecordSize) may take at most; a larger picture is refused with
  // TooLarge before its pixels are decoded. With a `cache`, a record
  // converted before from the same bytes is taken from it, and a new one
  // is put in. Any thread (a cache belongs to one thread).
  static LogoPicture Load(const QString &path, qint64 room, LogoRecordCache *cache = nullptr);
  // The same for an open, random-access device (a file or a buffer).
  static LogoPicture Read(QIODevice &device, qint64 room, LogoRecordCache *cache = nullptr);
  // The file as the picture dialog's preview shows it: refused (fault not
  // None) when even an empty logo set would refuse it.
  static LogoPicture Preview(const QString &path);
};

} // namespace pellicar
