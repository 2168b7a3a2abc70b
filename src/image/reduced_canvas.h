#pragma once
// A canvas that frames are drawn onto at the scale the caller needs, never at full size: a
// large canvas around a small frame (a GIF's logical screen, an animated WebP's canvas) then
// costs only what the reduced picture needs, and parts no frame covers cost nothing.

#include <cstdint>
#include <vector>

#include "image/image_header.h"
#include "image/pixel_ops.h"

namespace velto {

// The whole factor reduceToShortSide(minShortSide) shrinks a picture of `size` by (1: none).
int64_t reductionFactor(ImageSize size, int64_t minShortSide);

class ReducedCanvas {
 public:
  // A transparent canvas of `size` (acceptableSize), shrunk by `factor` >= 1.
  ReducedCanvas(ImageSize size, int64_t factor);

  // The factor each side is divided by (1: full size).
  int64_t factor() const { return factor_; }
  // Width and height of the reduced canvas.
  ImageSize reducedSize() const { return reduced_; }

  // Draws `count` RGBA pixels (not premultiplied) of full-size row y from column x on, replacing
  // what is there; pixels outside the canvas are dropped. Each canvas pixel is drawn at most
  // once, as by the first frame of an animation.
  void addRow(int64_t x, int64_t y, const uint8_t* rgba, int64_t count);

  // Draws an already reduced RGBA picture (rows of `width` pixels) with its top left corner at
  // reduced (x, y), clipped to the canvas.
  void addReduced(int64_t x, int64_t y, const uint8_t* rgba, int64_t width, int64_t height);

  // The canvas: RGBA, each pixel the mean of the full-size pixels it stands for (colour
  // premultiplied by alpha when reduced), uncovered parts transparent.
  RawImage finish() const;

 private:
  int64_t factor_;
  ImageSize reduced_;
  // At full size the pixels themselves; reduced, per pixel the sums of premultiplied R, G, B
  // and of alpha over what was drawn.
  std::vector<uint8_t> pixels_;
  std::vector<float> sums_;
};

}  // namespace velto
