// Finds an object of the window by objectName, through items and the objects they hold.
.pragma library

function find(object, name) {
    if (!object)
        return null;
    if (object.objectName === name)
        return object;
    const kids = object.data !== undefined ? object.data : object.children;
    if (!kids)
        return null;
    for (let i = 0; i < kids.length; ++i) {
        const found = find(kids[i], name);
        if (found)
            return found;
    }
    return null;
}
