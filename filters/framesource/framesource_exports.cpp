// Exports of the framesource plug-in.
