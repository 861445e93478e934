.pragma library

// Names of common EXIF tags, by table. Other tags show their number only.
var names = {
    "Image": { 256: "ImageWidth", 257: "ImageLength", 270: "ImageDescription", 271: "Make", 272: "Model",
               274: "Orientation", 282: "XResolution", 283: "YResolution", 296: "ResolutionUnit",
               305: "Software", 306: "DateTime", 315: "Artist", 531: "YCbCrPositioning",
               33432: "Copyright", 34665: "ExifIFDPointer", 34853: "GPSInfoIFDPointer" },
    "Exif": { 33434: "ExposureTime", 33437: "FNumber", 34850: "ExposureProgram", 34855: "ISOSpeedRatings",
              36864: "ExifVersion", 36867: "DateTimeOriginal", 36868: "DateTimeDigitized",
              37377: "ShutterSpeedValue", 37378: "ApertureValue", 37380: "ExposureBiasValue",
              37383: "MeteringMode", 37385: "Flash", 37386: "FocalLength", 37500: "MakerNote",
              37510: "UserComment", 40960: "FlashpixVersion", 40961: "ColorSpace",
              40962: "PixelXDimension", 40963: "PixelYDimension", 41986: "ExposureMode",
              41987: "WhiteBalance", 41990: "SceneCaptureType" },
    "GPS": { 0: "GPSVersionID", 1: "GPSLatitudeRef", 2: "GPSLatitude", 3: "GPSLongitudeRef",
             4: "GPSLongitude", 5: "GPSAltitudeRef", 6: "GPSAltitude", 7: "GPSTimeStamp",
             18: "GPSMapDatum", 29: "GPSDateStamp" }
}

function name(table, tag) {
    return names[table][tag] || ""
}

// Values arrive as numbers, strings, lists (count above one) or ArrayBuffers
// (UNDEFINED data).
function format(value) {
    if (value === undefined || value === null)
        return ""
    if (value instanceof ArrayBuffer)
        return value.byteLength + " bytes"
    if (Array.isArray(value))
        return value.map(format).join(", ")
    if (typeof value === "number")
        return Number.isInteger(value) ? String(value) : value.toFixed(4)
    return String(value)
}
