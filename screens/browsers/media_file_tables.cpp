#include "screens/browsers/media_file_tables.h"

#include "screens/browsers/media_file_record.h"

namespace screens {

const FileTypeEntry kFileTypeTable[17] = {
    {u".jpg", kFileTypeJpeg, kKindImage, u"JPEG"},
    {u".gif", kFileTypeGif, kKindImage, u"GIF"},
    {u".bmp", kFileTypeBmp, kKindImage, u"Bitmap"},
    {u".wmv", kFileTypeWmv, kKindVideo, u"MS-WMV"},
    {u".mp4", kFileTypeMp4, kKindVideo, u"MPEG-4"},
    {u".3gp", kFileType3gp, kKindVideo, u"3GP"},
    {u".3g2", kFileType3gp, kKindVideo, u"3GP"},
    {u".3gpp", kFileType3gp, kKindVideo, u"3GP"},
    {u".mov", kFileTypeMov, kKindVideo, u"MOV"},
    {u".mp3", kFileTypeMp3, kKindAudio, u"MPEG Layer3"},
    {u".wma", kFileTypeWma, kKindAudio, u"MS-WMA"},
    {u".wav", kFileTypeWav, kKindAudio, u"MS-WAV"},
    {u".aac", kFileTypeAac, kKindAudio, u"AAC"},
    {u".amr", kFileTypeAmr, kKindAudio, u"AMR"},
    {u".mpa", kFileTypeMpa, kKindAudio, u"MPEG-4"},
    {u".m4a", kFileTypeM4a, kKindAudio, u"MPEG-4"},
    {u".mix", kFileTypeProject, kKindProject, u"vEX project"},
};

}  // namespace screens
