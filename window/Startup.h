#pragma once

#include <QString>

class Form1;

// The application title made from the long title: the last word goes, and
// further words while the rest is longer than 40 characters ("Orvelle Software"
// gives "Orvelle"). Throws Failure for a title without a blank, which cannot be
// shortened.
QString ShortenedTitle(const QString& longTitle);

// The skin set-up of the window. This build has no skin engine, so every start
// is a start without a skin file: the window keeps its white colours.
void SkinSetup(Form1& form);

// The path of the custom pointer file in the program's folder.
QString MouseIconFile(const Form1& form);
