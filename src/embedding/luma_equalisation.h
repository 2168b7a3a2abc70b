#pragma once
// Exposure taken out of the network's input: luma replaced by its rank in the picture, so that
// one scene shot brighter or darker gives the network nearly the same picture.

namespace cv {
class Mat;
}

namespace velto {

// Luma is counted in this many bins between black and white: fine enough that neighbouring
// levels of a smooth gradient keep their order, few enough that the counts are one pass.
inline constexpr int kLumaBins = 4096;

// The luma-equalised copy of a network input (CV_32FC3, RGB, values in [0, 1]): each pixel's
// luma l (0.299 R + 0.587 G + 0.114 B) is binned as round(l * (kLumaBins - 1)); the pixel's three
// channels are multiplied alike by rank / max(l, 1/255) and clipped to [0, 1], where rank is the
// fraction of the picture in lower bins plus half the fraction in its own. Colour ratios are
// kept where nothing clips; a flat picture gets luma 1/2, a black one stays black. O(pixels); an
// empty matrix for any other type.
cv::Mat lumaEqualised(const cv::Mat& input);

}  // namespace velto
