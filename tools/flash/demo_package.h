// Whether a package is a demo package (random images that would brick a
// real camera). The one place quorvel-flash asks it, so that the answer can
// follow the package format wherever it keeps that mark.
#pragma once

#include <string>

// True when the package at `path` says it is a demo package. A file that
// cannot be read says nothing (the package check refuses it on its own).
bool isDemoPackage(const std::string &path);
