// The file picker's rules for paths and listings, with no state of their own.
.pragma library

// One folder's listing for the picker's mode. A file to save shows what it could replace: every
// file of the folder, whatever the filters say; a folder to choose shows no files.
function list(controller, mode, nameFilters, path) {
    if (mode === "save")
        return controller.browseListAll(path);
    return controller.browseListDir(path, mode === "dir" ? [] : (nameFilters || []));
}

// A root such as "/" or "C:/" already ends with the separator; doubling it would hand back
// "//x" or "C://x".
function join(folder, name) {
    return folder === "" || folder.endsWith("/") ? folder + name : folder + "/" + name;
}

// The list's rows for a listing: its folders first, then its files, each in listing order.
function rows(listing) {
    const dirs = listing.dirs || [];
    const files = listing.files || [];
    const result = [];
    for (let d = 0; d < dirs.length; ++d)
        result.push({ entryName: dirs[d], entryIsDir: true });
    for (let f = 0; f < files.length; ++f)
        result.push({ entryName: files[f], entryIsDir: false });
    return result;
}

// The drive whose root starts the path ("C:/" of "c:/fw"), or -1.
function driveIndex(drives, path) {
    const drive = String(path).substring(0, 3).toUpperCase();
    for (let i = 0; i < drives.length; ++i) {
        if (String(drives[i]).toUpperCase() === drive)
            return i;
    }
    return -1;
}

// What to try to show for an initial path, in order: the path itself, then (for a path that
// names a file) its folder with the file selected. Each is [folder, name to select].
function openingChoices(initialPath) {
    const p = String(initialPath).replace(/\\/g, "/");
    if (p === "")
        return [];
    const choices = [[p, ""]];
    const slash = p.lastIndexOf("/");
    if (slash > 0) {
        // "C:" alone names the drive's current folder, not its root.
        let folder = p.substring(0, slash);
        if (/^[A-Za-z]:$/.test(folder))
            folder += "/";
        choices.push([folder, p.substring(slash + 1)]);
    }
    return choices;
}
