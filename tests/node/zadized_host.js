// zadized.dll from Node.js for Windows through koffi, in a 32-bit node.exe with
// the x86 DLL or a 64-bit one with the x64 DLL. Run in a folder holding
// screen.bmp, the picture shown on the screen from its top-left corner:
//   node zadized_host.js C:\path\to\zadized.dll screen.bmp
'use strict';
const fs = require('fs');
const koffi = require('koffi');

const started = process.uptime();
const x64 = process.arch === 'x64';
const dll = koffi.load(process.argv[2]);

// Every address is as wide as a pointer: uintptr_t, a Number in JavaScript.
// Every other argument and result is 32 bits. __stdcall is the x86 DLL's
// convention; koffi ignores it in x64, where there is only one.
const AsyncKeyState = dll.func('int32_t __stdcall AsyncKeyState(int32_t virtualKey)');
const CreateBuffer = dll.func('uintptr_t __stdcall CreateBuffer(uint32_t size)');
const DeleteBuffer = dll.func('uintptr_t __stdcall DeleteBuffer(uintptr_t block)');
const GetAccTime = dll.func('uint32_t __stdcall GetAccTime()');
const PtrCopyData = dll.func('void __stdcall PtrCopyData(uintptr_t source, uintptr_t destination, int32_t length)');
const PtrGet = dll.func('uintptr_t __stdcall PtrGet(uintptr_t value)');
const PtrGetArray = dll.func('uint32_t __stdcall PtrGetArray(uintptr_t base, int32_t index, uint32_t size)');
const PtrGetString = dll.func('uintptr_t __stdcall PtrGetString(uintptr_t source, int32_t flag)');
const PtrGetValue = dll.func('uint32_t __stdcall PtrGetValue(uintptr_t address, uint32_t size)');
const PtrPut = dll.func('void __stdcall PtrPut(uint32_t value, uintptr_t address, uint32_t size)');
const PtrPutArray = dll.func('void __stdcall PtrPutArray(uint32_t value, uintptr_t base, int32_t index, uint32_t size)');
const PtrPutString = dll.func('void __stdcall PtrPutString(uintptr_t source, uintptr_t destination, int32_t length)');
const SearchImage = dll.func('int32_t __stdcall SearchImage(const char *fileName, int32_t x1, int32_t y1, ' +
                             'int32_t x2, int32_t y2, int32_t options, int32_t color)');
const HoldScreen = dll.func('int32_t __stdcall HoldScreen(const char *source)');
const ReleaseScreen = dll.func('int32_t __stdcall ReleaseScreen()');

// The two records, laid out by koffi as a C compiler lays out zadized.h's.
const BitmapRecord = koffi.struct('ZadizedBitmapRecord', {
  fileData: 'uintptr_t', pixels: 'uintptr_t', fileSize: 'int32_t', width: 'int32_t', height: 'int32_t',
  bitCount: 'int32_t', topLeftColor: 'uint32_t', topRightColor: 'uint32_t', bottomLeftColor: 'uint32_t',
  bottomRightColor: 'uint32_t',
});
const ScreenImage = koffi.struct('ZadizedScreenImage', {
  bitmap: 'uintptr_t', pixels: 'uintptr_t', width: 'int32_t', height: 'int32_t', bitCount: 'int32_t',
});
const OpenBitmap = dll.func('ZadizedBitmapRecord __stdcall OpenBitmap(const char *fileName)');
const CaptureScreen = dll.func('ZadizedScreenImage __stdcall CaptureScreen()');
// The way of a host without records: the record's address goes first and
// comes back; the fields lie at these offsets.
const OpenBitmapAt = dll.func('__stdcall', 'OpenBitmap', 'uintptr_t', ['uintptr_t', 'const char *']);
const CaptureScreenAt = dll.func('__stdcall', 'CaptureScreen', 'uintptr_t', ['uintptr_t']);
const offsets = x64
  ? {fileData: 0, pixels: 8, fileSize: 16, width: 20, height: 24, bitCount: 28, topLeftColor: 32,
     topRightColor: 36, bottomLeftColor: 40, bottomRightColor: 44, size: 48,
     screen: {bitmap: 0, pixels: 8, width: 16, height: 20, bitCount: 24, size: 32}}
  : {fileData: 0, pixels: 4, fileSize: 8, width: 12, height: 16, bitCount: 20, topLeftColor: 24,
     topRightColor: 28, bottomLeftColor: 32, bottomRightColor: 36, size: 40,
     screen: {bitmap: 0, pixels: 4, width: 8, height: 12, bitCount: 16, size: 20}};
const address = (at) => PtrGetValue(at, 4) + (x64 ? PtrGetValue(at + 4, 4) * 2 ** 32 : 0);
// The caller deletes each capture's bitmap. Under Wine 10 a 64-bit node.exe
// never returns from koffi's direct calls into gdi32 and user32 (its calls
// into zadized.dll, which make the same system calls, do), so there the
// bitmaps are left to the end of the process.
const underWine64 = x64 && (() => {
  try { return koffi.load('ntdll.dll').func('const char *wine_get_version()') !== null; } catch { return false; }
})();
const DeleteObject = underWine64 ? null
  : koffi.load('gdi32.dll').func('int32_t __stdcall DeleteObject(uintptr_t object)');

let passed = 0;
let failed = 0;
function check(ok, what) {
  if (ok) ++passed;
  else { ++failed; console.log('  FAILED ' + what); }
}

// The painted picture, and a 12 x 9 piece of it at (97, 53) as a BMP file.
const screenFile = fs.readFileSync(process.argv[3]);
const pictureWidth = screenFile.readInt32LE(18);
const pictureHeight = screenFile.readInt32LE(22);
const colour = (x, y) => screenFile.readUIntLE(
  screenFile.readUInt32LE(10) + (pictureHeight - 1 - y) * ((pictureWidth * 3 + 3) & ~3) + 3 * x, 3);
const [left, top, width, height] = [97, 53, 12, 9];
function writePiece(name, pieceLeft, pieceTop) {
  const piece = Buffer.alloc(54 + height * 36);
  piece.write('BM');
  piece.writeUInt32LE(piece.length, 2);
  piece.writeUInt32LE(54, 10);
  piece.writeUInt32LE(40, 14);
  piece.writeInt32LE(width, 18);
  piece.writeInt32LE(height, 22);
  piece.writeUInt16LE(1, 26);
  piece.writeUInt16LE(24, 28);
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) {
      piece.writeUIntLE(colour(pieceLeft + x, pieceTop + y), 54 + (height - 1 - y) * 36 + 3 * x, 3);
    }
  }
  fs.writeFileSync(name, piece);
  return piece;
}
const piece = writePiece('piece.bmp', left, top);

const record = OpenBitmap('piece.bmp');
check(record.fileSize === piece.length && record.width === width && record.height === height &&
      record.bitCount === 24 && record.pixels === record.fileData + 54, 'OpenBitmap fields');
check(record.topLeftColor === colour(left, top) && record.topRightColor === colour(left + width - 1, top) &&
      record.bottomLeftColor === colour(left, top + height - 1) &&
      record.bottomRightColor === colour(left + width - 1, top + height - 1), 'OpenBitmap corner colours');
const recordAt = CreateBuffer(offsets.size);
check(OpenBitmapAt(recordAt, 'piece.bmp') === recordAt, 'OpenBitmap answers the address of the record');
for (const field of Object.keys(record)) {
  const value = field === 'fileData' || field === 'pixels' ? address(recordAt + offsets[field])
    : field === 'fileSize' || field === 'width' || field === 'height' || field === 'bitCount'
    ? PtrGetValue(recordAt + offsets[field], 4) | 0 : PtrGetValue(recordAt + offsets[field], 4);
  check(value === record[field], `${field} at offset ${offsets[field]}`);
}
console.log(`OpenBitmap: record at ${recordAt}, ${JSON.stringify(record)}`);
check(DeleteBuffer(recordAt) === 0, 'DeleteBuffer of the record');

const screenAt = CreateBuffer(offsets.screen.size);
check(CaptureScreenAt(screenAt) === screenAt, 'CaptureScreen answers the address of the record');
const screen = CaptureScreen();
check(screen.bitmap !== 0 && screen.pixels !== 0 && screen.bitCount === 32 &&
      address(screenAt + offsets.screen.pixels) !== 0 &&
      PtrGetValue(screenAt + offsets.screen.bitCount, 4) === 32 &&
      screen.width === PtrGetValue(screenAt + offsets.screen.width, 4) &&
      screen.height === PtrGetValue(screenAt + offsets.screen.height, 4), 'CaptureScreen fields');
// Screen row y starts at pixels + (height - 1 - y) * width * 4: blue, green, red, unused.
let wrong = 0;
for (let y = 0; y < pictureHeight; ++y) {
  const row = koffi.decode(BigInt(screen.pixels + (screen.height - 1 - y) * screen.width * 4), 'uint32_t',
                           pictureWidth);
  for (let x = 0; x < pictureWidth; ++x) wrong += (row[x] & 0xFFFFFF) !== colour(x, y);
}
check(wrong === 0, `${wrong} captured pixels differ from the painted picture`);
if (DeleteObject) {
  check(DeleteObject(screen.bitmap) !== 0 && DeleteObject(address(screenAt + offsets.screen.bitmap)) !== 0,
        'the captures are bitmaps the caller deletes');
}
DeleteBuffer(screenAt);
console.log(`CaptureScreen: ${JSON.stringify(screen)}; ${wrong} pixels differ from the picture`);

// SearchImage answers (y - 1) * W + (x - 1), W the screen width. The colour
// word 0x20000000 asks for the template's own colours exactly (near colours,
// no step and no share of misses allowed); -1 would be pattern mode, which
// any window of twelve by nine different colours matches here.
const exact = 0x20000000;
const found = SearchImage('piece.bmp', 0, 2, 159, 119, 0, exact);
check(found === (top - 1) * screen.width + (left - 1), `SearchImage found the piece: ${found}`);
const v = found + screen.width + 1;
console.log(`SearchImage: ${found}, that is x = ${v % screen.width}, y = ${Math.floor(v / screen.width)}`);
check(SearchImage('piece.bmp', 159, 119, 0, 2, 0, exact) === found, 'the corners in either order');
check(SearchImage('piece.bmp', 0, 2, 159, 119, 1, exact) === -1, 'the piece is there once');
check(SearchImage('piece.bmp', left + 1, 2, 159, 119, 0, exact) === -1, 'not right of its column');
check(SearchImage('missing.bmp', 0, 2, 159, 119, 0, exact) === -2, 'a missing template');

// One frame, many searches: the screen captured once and held, eight
// templates looked for on that one frame, then released. While it is held,
// this thread's searches capture nothing.
const places = [[5, 7], [30, 2], [61, 40], [100, 90], [140, 100], [12, 80], [77, 20], [120, 60]];
places.forEach(([x, y], i) => writePiece(`button${i}.bmp`, x, y));
const W = HoldScreen(null);
check(W === screen.width, `HoldScreen answers the width of the held picture: ${W}`);
const answers = places.map((_, i) => SearchImage(`button${i}.bmp`, 0, 2, 159, 119, 0, exact));
check(ReleaseScreen() === 0 && ReleaseScreen() === -1, 'ReleaseScreen, then nothing is held');
check(answers.every((r, i) => r === (places[i][1] - 1) * W + (places[i][0] - 1)), `eight on one frame: ${answers}`);
console.log(`One frame: ${answers.join(' ')}`);

// Testing without a screen: a saved screenshot held in the screen's place;
// positions are encoded with its width, the rectangle is cut to it.
const shotWidth = HoldScreen(process.argv[3]);
check(shotWidth === pictureWidth, `HoldScreen of a saved screenshot: ${shotWidth}`);
check(SearchImage('button3.bmp', 0, 2, 99999, 99999, 0, exact) === (90 - 1) * shotWidth + (100 - 1),
      'a template on the saved screenshot');
check(HoldScreen('missing.bmp') === -2 && SearchImage('piece.bmp', 0, 2, 99999, 99999, 0, exact) ===
      (top - 1) * shotWidth + (left - 1), 'a failed hold keeps the picture held');
ReleaseScreen();

// Raw memory through integer addresses.
const block = CreateBuffer(64);
check(block !== 0, 'CreateBuffer');
PtrPut(0x11223344, block + 4, 4);
check(PtrGetValue(block + 4, 4) === 0x11223344 && PtrGetValue(block + 5, 2) === 0x2233, 'PtrPut, PtrGetValue');
PtrPutArray(0xBEEF, block, 5, 2);
check(PtrGetArray(block, 5, 2) === 0xBEEF, 'PtrPutArray, PtrGetArray');
const text = CreateBuffer(16);
PtrPutString(PtrGetString(PtrGet(block + 4), 1), text, -1);  // the bytes 44 33 22 11 as a string
PtrCopyData(text, text + 8, 2);
check(PtrGetValue(text + 8, 4) === 0x3344 && PtrGetValue(text, 4) === 0x11223344, 'strings and copies');
const wide = x64 ? 0x123456789ABC : 0x89ABCDEF;
check(PtrGet(wide) === wide, 'an address as wide as a pointer');
check(DeleteBuffer(block) === 0 && DeleteBuffer(text) === 0 && DeleteBuffer(0) === 0, 'DeleteBuffer');
console.log(`Memory: block at ${block}, PtrGet(${wide}) = ${PtrGet(wide)}`);

const t0 = GetAccTime();
check((GetAccTime() - t0) >>> 0 < 1000 && (AsyncKeyState(0x87) & ~1) === 0, 'GetAccTime, AsyncKeyState');
console.log(`${process.arch} node ${process.version}: started in ${Math.round(started * 1000)} ms, ` +
            `the calls took ${Math.round((process.uptime() - started) * 1000)} ms`);
console.log(`${passed} passed, ${failed} failed`);
process.exitCode = failed === 0 ? 0 : 1;
