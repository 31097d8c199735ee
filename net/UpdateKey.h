#pragma once
// The public key this build checks installers with, from the build option
// KIVO_UPDATE_KEY (a PEM file); empty when the build was given none, and then
// installers are trusted as the network delivers them.

extern const char kszUpdateKeyPem[];
