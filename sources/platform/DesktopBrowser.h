#pragma once

#include <QByteArray>
#include <QUrl>

// Whether Address is an http or https address with a host: the only kind the program hands to the
// user's default web browser. It never asks the desktop to open a file, a script or a command on
// behalf of a text it received.
bool IsWebAddress(const QByteArray &Address);

// A site's URL as the desktop is to open it: taken as it is when it names a scheme ("https:",
// "mailto:", ...), with "http://" before it when it does not ("www.example.org", "host:8080/x").
// Invalid for an empty or unusable text.
QUrl SiteAddress(const QByteArray &Address);
