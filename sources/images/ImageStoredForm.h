#pragma once

#include "ImageDataUnit.h"
#include "ImageGroupUnit.h"

#include <functional>

// The stored form of the image repository: the image records, then the group records; 32-bit
// little-endian integers, strings as a 32-bit length and the bytes.

struct TStoredFormResult
{
    // The data ended exactly after the last group.
    bool Complete = false;
    int DroppedImages = 0;
    int DroppedGroups = 0;
    int SkippedReferences = 0;
};

// Decides whether a record's picture is usable; the default checks the file signature of its kind.
using TImageValidator = std::function<bool(const TImageData &)>;
bool HasValidSignature(const TImageData &Image);

// Replaces the contents of Images and Groups. An image record that is whole but unusable is dropped
// and reading goes on; references to dropped records or outside the images are skipped; a group of
// impossible size is dropped. Reading stops where the data ends inside a record, keeping what was
// read before it.
TStoredFormResult ReadImageRepositoryData(const QByteArray &Data, TImageCollection &Images,
                                          TImageGroupCollection &Groups,
                                          const TImageValidator &Valid = HasValidSignature);

QByteArray WriteImageRepositoryData(const TImageCollection &Images, const TImageGroupCollection &Groups);
