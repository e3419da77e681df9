#pragma once
// The ids of the main window's commands that the core posts or handles.
enum TCommandId : int {
  kCmOpen = 102,
  kCmRepeat1 = 127, // kCmRepeat1 + n - 1 sets the repeat count n (1..9)
  kCmRepeat9 = 135,
  kCmNext = 137,
  kCmRandom = 138,
  kCmPrevious = 139,
  kCmConvertGif = 154, // through kCmConvertTif = 159, in the order of the file type codes
  kCmConvertTif = 159,
  kCmShowComments = 167,
  kCmExit = 170,
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
};
