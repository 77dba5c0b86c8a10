#pragma once
// A look at a video's pictures before it is converted: short runs of
// consecutive pictures spread over its length, measured by the media
// libraries' cropdetect (black bands at the edges) and idet (the combing of
// woven fields). Both faces get it with the listing, so the plan can remove
// black bars and deinterlace.
struct AVFormatContext;

struct TPictureSample {
    int Pictures = 0;           // pictures measured; 0 when the file could not be sampled
    int Width = 0, Height = 0;  // of the pictures measured, pixels
    // Bands black on every sampled picture with content (a black picture has
    // none and does not count), pixels, even; 0 each when nothing was found.
    int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    int CombedPictures = 0;       // pictures idet found interlaced, either field first
    int ProgressivePictures = 0;  // pictures idet found progressive
    int RateNum = 0, RateDen = 1;  // the stream's frame rate, pictures a second; 0 unknown
    // Combing on a few pictures at least and clearly more often than not.
    bool Interlaced() const { return CombedPictures >= 3 && CombedPictures > 2 * ProgressivePictures; }
};

// Samples the first video stream of an input the caller has open, seeking in
// it (read it again only after seeking back to the start). Runs on the
// caller's thread; decoders are opened and closed under CodecLock. Never
// throws: a file without pictures to sample (no video, undecodable, damaged,
// a single picture) gives an empty sample.
TPictureSample SamplePictures(AVFormatContext* input);
