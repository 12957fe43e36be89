// Exports of the codecdmo plug-in.
