// Fixed names of the engine's files, folders, extensions and stored settings.
// Stored files and catalogue rows carry these texts: never change them.
#pragma once

#include <string>

namespace orvale::common {

inline const std::string kOverwriteSetting = "OVERWRITE";
inline const std::string kDualRecordSetting = "DUALRECORD";

inline const std::string kCatalogueFileName = "orvale.kvtdb";
inline const std::string kCatalogueShmFileName = "orvale.kvtdb-shm";
inline const std::string kCatalogueWalFileName = "orvale.kvtdb-wal";
inline const std::string kOperationFileName = "operation.kvtdb";

inline const std::string kRecordDataFolder = "KVTRecordData";
inline const std::string kTemplateFolder = "DBTemp";
inline const std::string kIndexTemplateFileName = "indexdb.kvtidx";
inline const std::string kMetaTemplateFileName = "metadb.kvtmtd";

inline const std::string kNormalDataExtension = ".kvthdt";
inline const std::string kLowDataExtension = ".kvtldt";
inline const std::string kIndexExtension = ".kvtidx";
inline const std::string kArbIndexExtension = ".kvtarb";
inline const std::string kMetaExtension = ".kvtmtd";

}  // namespace orvale::common
