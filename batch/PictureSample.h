#pragma once
// A look at a video's pictures before it is converted: short runs of
// consecutive pictures spread over its length, measured by the media
// libraries' cropdetect (black bands at the edges) and idet (the combing of
// woven fields), and by matching their fields ourselves. Both faces get it with the listing, so the plan can remove
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
    int TopFirstPictures = 0;     // of CombedPictures, those idet found top field first
    int FlaggedPictures = 0;         // pictures the decoder marked interlaced
    int FlaggedTopFirstPictures = 0;  // of those, marked top field first
    // Rows: how well each row is told by its neighbours (the other field's
    // rows) against the rows two away (its own field's), over the whole
    // picture. Neighbours tell a progressive picture's rows better, whatever
    // its texture; in woven fields with motion they tell them worse. Pictures
    // without detail give no vote.
    int RowCombedPictures = 0;  // neighbours told the rows worse
    int RowSmoothPictures = 0;  // neighbours told the rows better
    // Field order: each picture's bottom field woven with the top field of the
    // picture before, its own and the one after. A field of an interlaced
    // picture lies half a picture from its own top field and from one
    // neighbour's (the next when the top field comes first), which match
    // alike and better than the other. Pictures without clear motion (or
    // texture that no weave matches) give no vote.
    int TopFirstMatches = 0, BottomFirstMatches = 0;
    int RateNum = 0, RateDen = 1;  // the stream's frame rate, pictures a second; 0 unknown
    // idet's combing on a few pictures at least and clearly more often than not.
    bool CombingSeen() const { return CombedPictures >= 3 && CombedPictures > 2 * ProgressivePictures; }
    // The rows' measure where it had a few pictures to tell by, else idet's.
    bool Interlaced() const {
        if (RowCombedPictures + RowSmoothPictures < 3) return CombingSeen();
        return RowCombedPictures > 2 * RowSmoothPictures;
    }
    // Whether anything told the order of the fields.
    bool FieldOrderKnown() const {
        return FlaggedPictures > 0 || TopFirstMatches + BottomFirstMatches > 0 || CombedPictures > 0;
    }
    // The decoder's marks where it made any, else the field matches', else idet's.
    bool TopFieldFirst() const {
        if (FlaggedPictures > 0) return 2 * FlaggedTopFirstPictures >= FlaggedPictures;
        if (TopFirstMatches + BottomFirstMatches > 0) return TopFirstMatches >= BottomFirstMatches;
        return 2 * TopFirstPictures >= CombedPictures;
    }
};

// Samples the first video stream of an input the caller has open, seeking in
// it (read it again only after seeking back to the start). Runs on the
// caller's thread; decoders are opened and closed under CodecLock. Never
// throws: a file without pictures to sample (no video, undecodable, damaged,
// a single picture) gives an empty sample.
TPictureSample SamplePictures(AVFormatContext* input);
