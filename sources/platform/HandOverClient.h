#pragma once

#include "HandOverWire.h"

#include <string>
#include <vector>

// A later start's side of the hand-over: the records go over the first copy's socket, one
// connection each, and each waits for the first copy's answer. Plain C++ and POSIX, so that the
// launcher hands over without Qt.
enum class THandOverResult
{
    // Every record was acknowledged; or the first went over and the copy that took it went away
    // before the rest (those are lost with it).
    Delivered,
    // Nobody listens on Socket (yet, or any more), or the first record was refused or dropped:
    // search again.
    NoAnswer
};

// No time limit: the first copy answers once the user has answered its message boxes.
THandOverResult SendHandOver(const std::string &Socket, const std::vector<THandOverRecord> &Records);
