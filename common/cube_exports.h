// The cube library as its callers bind it: by file name at run time, then each export by name,
// in this order; the first one missing stops the binding, and the user is told which in these
// words. The plugin and the listener both bind it so. Platform-free.
#pragma once

static const char kCubeLibraryName[] = "lumolink.dll";
static const char kCubeLibraryMissing[] = "Cannot load lumolink.dll";

enum CubeExport {
    kExportOpen,
    kExportClose,
    kExportSetStar,
    kExportSetLevel,
    kExportSetNewStar,
    kExportSendChar,
    kCubeExportCount,
};

struct CubeExportName {
    const char* exportName;
    const char* missingMessage;
};

static const CubeExportName kCubeExports[kCubeExportCount] = {
    {"Open", "Cannot load init function"},             // kExportOpen
    {"Close", "Cannot load exit function"},            // kExportClose
    {"setStar", "Cannot load setStar function"},       // kExportSetStar
    {"setLevel", "Cannot load setLevel function"},     // kExportSetLevel
    {"setNewStar", "Cannot load setNewStar function"}, // kExportSetNewStar
    {"sendChar", "Cannot load sendChar function"},     // kExportSendChar
};

// Frames of a caller's own choosing. Bound apart from the table above by the callers that draw
// them: the plugin never needs it, so a library without it still runs the plugin's modes.
static const CubeExportName kCubePlanesExport = {"setPlanes", "Cannot load setPlanes function"};
