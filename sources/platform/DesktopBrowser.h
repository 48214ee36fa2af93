#pragma once

#include <QByteArray>

// Hands an address to the user's default web browser. Only http and https addresses go out: the
// program never asks the desktop to open a file, a script or a command on behalf of a text it
// received. Returns whether the address was handed over.
bool OpenInDefaultBrowser(const QByteArray &Address);
bool IsWebAddress(const QByteArray &Address);
