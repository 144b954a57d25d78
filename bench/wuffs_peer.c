/* A peer decoder for import_bench: one of Wuffs' single-file C releases,
 * brought in by path at configure time and compiled into a shared library
 * of its own, so that two releases can sit in one program. Only the record
 * named by WUFFS_PEER_NAME is seen outside.
 *
 * It decodes the first frame of a GIF in memory into one byte a pixel (the
 * palette index), as the filter's own decoder does. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "bench/peer_decoder.h"

#define WUFFS_IMPLEMENTATION
#define WUFFS_CONFIG__STATIC_FUNCTIONS
#define WUFFS_CONFIG__MODULES
#define WUFFS_CONFIG__MODULE__BASE
#define WUFFS_CONFIG__MODULE__GIF
#define WUFFS_CONFIG__MODULE__LZW
#include WUFFS_PEER_SOURCE

/* The indexed pixel buffer's palette comes first, then the pixels. */
#define PALETTE_BYTES WUFFS_BASE__PIXEL_FORMAT__INDEXED__PALETTE_BYTE_LENGTH

static int Fail(wuffs_gif__decoder* decoder, uint8_t* memory) {
  free(decoder);
  free(memory);
  return 1;
}

/* 0 with *image holding the frame's indices; 1 when the file did not
 * decode. */
static int Decode(const uint8_t* gif, size_t size, struct PeerImage* image) {
  wuffs_gif__decoder* decoder = (wuffs_gif__decoder*)malloc(sizeof__wuffs_gif__decoder());
  uint8_t* memory = NULL;
  memset(image, 0, sizeof *image);
  if (!decoder ||
      wuffs_gif__decoder__initialize(decoder, sizeof__wuffs_gif__decoder(), WUFFS_VERSION,
                                     WUFFS_INITIALIZE__LEAVE_INTERNAL_BUFFERS_UNINITIALIZED)
          .repr) {
    return Fail(decoder, memory);
  }
  wuffs_base__io_buffer source = wuffs_base__ptr_u8__reader((uint8_t*)gif, size, true);
  wuffs_base__image_config config;
  if (wuffs_gif__decoder__decode_image_config(decoder, &config, &source).repr) {
    return Fail(decoder, memory);
  }
  const uint32_t w = wuffs_base__pixel_config__width(&config.pixcfg);
  const uint32_t h = wuffs_base__pixel_config__height(&config.pixcfg);
  wuffs_base__pixel_config__set(&config.pixcfg, WUFFS_BASE__PIXEL_FORMAT__INDEXED__BGRA_BINARY,
                                WUFFS_BASE__PIXEL_SUBSAMPLING__NONE, w, h);
  const size_t pixelBytes = (size_t)w * h;
  memory = (uint8_t*)malloc(PALETTE_BYTES + pixelBytes);
  const uint64_t workBytes = wuffs_gif__decoder__workbuf_len(decoder).max_incl;
  uint8_t* work = workBytes > 0 ? (uint8_t*)malloc(workBytes) : NULL;
  wuffs_base__pixel_buffer buffer;
  int failed =
      !memory || (workBytes > 0 && !work) ||
      wuffs_base__pixel_buffer__set_from_slice(
          &buffer, &config.pixcfg, wuffs_base__make_slice_u8(memory, PALETTE_BYTES + pixelBytes))
          .repr;
  if (!failed) {
    failed =
        wuffs_gif__decoder__decode_frame(decoder, &buffer, &source, WUFFS_BASE__PIXEL_BLEND__SRC,
                                         wuffs_base__make_slice_u8(work, workBytes), NULL)
            .repr != NULL;
  }
  free(work);
  if (failed) return Fail(decoder, memory);
  free(decoder);
  image->block = memory;
  image->pixels = memory + PALETTE_BYTES;
  image->width = w;
  image->height = h;
  return 0;
}

__attribute__((visibility("default")))
const struct PeerDecoder WUFFS_PEER_NAME = {"wuffs " WUFFS_VERSION_STRING, Decode};
