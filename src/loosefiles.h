// The loose files that start-up reads from the working folder's data/, beside the pack linked into
// the program: the demo loads them, the search for the data folder looks for them, the build copies
// and installs them (its list is read from this header), and the media tool writes them.
#ifndef PARKHAUS_LOOSEFILES_H
#define PARKHAUS_LOOSEFILES_H

#include <array>

constexpr const char *kCubeTga = "data/vosquel.tga";        // the glass cube's texture
constexpr const char *kRedMapTga = "data/lightmap-red.tga";  // the inner object's sphere map
constexpr const char *kFontTga = "data/SouthPark.tga";       // the bitmap font
constexpr const char *kLogoOia = "data/vosqu-el.oia";        // the logo mesh
constexpr const char *kThingOia = "data/thing.oia";          // the inner object
constexpr const char *kCubeOia = "data/quad-mapped.oia";     // the glass cube

constexpr std::array<const char *, 6> kLooseFiles = {kCubeTga, kRedMapTga, kFontTga, kLogoOia, kThingOia, kCubeOia};

#endif
