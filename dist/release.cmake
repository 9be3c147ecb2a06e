# The facts of this release, each set once here (the version is project()'s) and filled into the
# manual pages, the metainfo, the changelog, the copyright file and the Debian package.

# The day of the release, YYYY-MM-DD.
set(PARKHAUS_RELEASE_DATE 2026-12-08)
set(PARKHAUS_CONTACT "Parkhaus developers <parkhaus@zared.invalid>")
set(PARKHAUS_VENDOR Zared)
# The long description, in lines that fit a terminal of 80 columns, "." between paragraphs.
set(PARKHAUS_DESCRIPTION
  "Parkhaus is a demo, a piece of real-time computer graphics with its own"
  "music, made to be started, watched and quit. A textured car park turns"
  "around the viewer. In the middle a translucent glass cube rocks to and fro"
  "with a red lacquered object tumbling inside it. Nine lines of credits in a"
  "bitmap font sway, slide and stretch over the scene, and a chrome-and-cow-hide"
  "logo turns high up to the right, all over a 146-second track."
  "."
  "It fills the screen, plays its music through any sound device there is (and"
  "runs on silently where there is none), and quits on Escape or Q. The package"
  "also holds parkhaus-capture, which renders the demo frame by frame on its own"
  "clock to PNG frames, a WAV of the music, or an MP4 video.")

# The release day at noon UTC as seconds since 1970 (the civil-date arithmetic of the proleptic
# Gregorian calendar): the changelog's time, and the default time stamp of the package's files.
string(REGEX MATCH "^([0-9]+)-0?([0-9]+)-0?([0-9]+)$" _date "${PARKHAUS_RELEASE_DATE}")
if(NOT _date)
  message(FATAL_ERROR "PARKHAUS_RELEASE_DATE must be YYYY-MM-DD, not ${PARKHAUS_RELEASE_DATE}")
endif()
set(_y ${CMAKE_MATCH_1})
set(_m ${CMAKE_MATCH_2})
set(_d ${CMAKE_MATCH_3})
if(_m LESS_EQUAL 2)
  math(EXPR _y "${_y} - 1")
  math(EXPR _mp "${_m} + 9")
else()
  math(EXPR _mp "${_m} - 3")
endif()
math(EXPR _era "${_y} / 400")
math(EXPR _yoe "${_y} - ${_era} * 400")
math(EXPR _doy "(153 * ${_mp} + 2) / 5 + ${_d} - 1")
math(EXPR _doe "${_yoe} * 365 + ${_yoe} / 4 - ${_yoe} / 100 + ${_doy}")
math(EXPR PARKHAUS_RELEASE_EPOCH "(${_era} * 146097 + ${_doe} - 719468) * 86400 + 43200")
set(_saved "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${PARKHAUS_RELEASE_EPOCH})
string(TIMESTAMP PARKHAUS_RELEASE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP PARKHAUS_RELEASE_YEAR "%Y" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${_saved}")
