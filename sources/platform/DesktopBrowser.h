#pragma once

#include <QByteArray>

// Whether Address is an http or https address with a host: the only kind the program hands to the
// user's default web browser. It never asks the desktop to open a file, a script or a command on
// behalf of a text it received.
bool IsWebAddress(const QByteArray &Address);
