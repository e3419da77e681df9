#pragma once
// The ids of the main window's commands that the core posts or handles.
enum TCommandId : int {
  kCmStartup = 101,
  kCmOpen = 102,
  kCmSaveAs = 120,
  kCmSaveWallpaper = 121,
  kCmRepeat1 = 127, // kCmRepeat1 + n - 1 sets the repeat count n (1..9)
  kCmRepeat9 = 135,
  kCmNext = 137,
  kCmRandom = 138,
  kCmPrevious = 139,
  kCmCopyImage = 141, // then sound and movie
  kCmCopyMovie = 143,
  kCmMoveImage = 145, // then sound and movie
  kCmMoveMovie = 147,
  kCmDeleteImage = 149, // then sound and movie
  kCmDeleteMovie = 151,
  kCmDeleteFiles = 152,
  kCmConvertGif = 154, // through kCmConvertTif = 159, in the order of the file type codes
  kCmConvertTif = 159,
  kCmShowComments = 167,
  kCmShowLog = 168,
  kCmExit = 170,
  kCmEditComments = 205,
  kCmZoomIn = 301,
  kCmCrop = 302,
  kCmZoomOut = 303,
  kCmRotate = 304,
  kCmMirror = 305,
  kCmFlip = 306,
  kCmBrighter = 307,
  kCmDimmer = 308,
  kCmMoreContrast = 309,
  kCmLessContrast = 310,
  kCmInvert = 311,
  kCmResetView = 312,
  kCmReload = 313,
  kCmRunSlideshow = 601,
  kCmGoTo = 602,
  kCmFileSpec = 603,
  kCmDelayImages = 604,
  kCmDelaySounds = 605,
  kCmDelayMovies = 606,
  kCmRandomOrder = 607,
  kCmEraseNewPages = 608,
  // Each event's menu: the first item's id plus the action code 0..11.
  kCmKeystrokeEvent = 610,
  kCmMouseButtonEvent = 623,
  kCmMouseMovementEvent = 636,
  kCmImageDisplayEvent = 649,
  kCmScreenDoneEvent = 662,
  kCmSlideshowDoneEvent = 675,
  kCmClipboardEvent = 688,
  kCmInstall = 901,
  // The scroll keys, each group in the order left, up, right, down: pan by
  // an eighth of the visible part, by all of it, by one picture pixel, and
  // make the visible width or height one pixel smaller or larger.
  kCmPanLeft = 1101,
  kCmPanPageLeft = 1105,
  kCmPanPixelLeft = 1109,
  kCmNarrower = 1113,
  kCmLastScroll = 1116,
};
