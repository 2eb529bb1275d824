// Frame snapshots: the texture on display written as a PNG or BMP file, in the orientation
// Render shows it at azimuth 0 and rotation offset 0 (the frame transposed), without zoom or
// cut-off edges. The pieces are pure functions over plain buffers so that they are testable
// without a device; CStreamRenderer::SaveSnapshot locks the texture and calls WriteSnapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace kesto {

enum class SnapshotFormat { None, Png, Bmp };

// Everything after the path's last '.', lower-cased; empty when there is no dot. A dot in a
// folder name counts like any other ("shots.old/frame" gives "old/frame").
std::string SnapshotExtension(const std::string& path);
// Png for "png", Bmp for "bmp", None for every other extension.
SnapshotFormat SnapshotFormatOf(const std::string& path);

// Converts `width` x `height` texture pixels (bytes blue, green, red, fourth byte; rows
// `pitch` bytes apart) into `image`: `height` pixels wide, `width` pixels tall, bytes red,
// green, blue, fourth byte, rows packed. Texture row i, column j goes to image row
// width - 1 - j, column i: a quarter turn counter-clockwise, which the writers' vertical
// flip turns into the transposed frame. Runs on the OpenMP team.
void ConvertTextureToImage(const uint8_t* texture, std::size_t pitch, unsigned width,
                           unsigned height, uint8_t* image);

// Red, green and blue of each 4-byte pixel blended over magenta with the fourth byte as
// coverage out of 255 (255 keeps the colour), into 3-byte pixels.
void BlendOverMagenta(const uint8_t* rgba, std::size_t pixelCount, uint8_t* rgb);

// Converts the texture and writes it to `path` in the format its extension names; other
// extensions write nothing. A failed write is reported to the host as Error. Throws
// std::bad_alloc when the image buffer cannot be had.
void WriteSnapshot(const uint8_t* texture, std::size_t pitch, unsigned width, unsigned height,
                   const platform::HostPath& path);

}  // namespace kesto
