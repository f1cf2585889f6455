#pragma once
// The engine's owner of one plug-in object and its 32-bit object identifier.
// The engine never keeps a client's object and never shares a plug-in object:
// every key, query and sample holds a handle whose plug-in object the handle
// created itself, and every copy is deep (a new plug-in object that receives
// the value through the plug-in's byte form).
//
// Handles work for the active index (ActiveParameters()): new plug-in objects
// are of its objectClass, record sizes come from its prototype, and every
// Distance call adds 1 to its computedDistances counter.
//
// Object record (the first bytes of every key in a node page):
//   0   S bytes  the plug-in object's compressed form (S = its compressedSize)
//   S   4 bytes  oid, unsigned 32-bit, little-endian
//
// Creation failures. Creating a plug-in object can fail (class not
// registered, module missing). MakeEmpty, FromRecord and CopyOf report that as
// a Status; the index's Create and Open create the prototype first and fail
// there, after which the platform keeps the class factory and creation does
// not fail. Copy() (used by Clone of keys and entries, which cannot answer a
// Status) stops the process with "plugin!=NULL" if it ever does: a handle
// never exists without its plug-in object.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "gist/TreeObject.h"
#include "platform/Activation.h"
#include "platform/ComPtr.h"
#include "platform/Guid.h"
#include "platform/IMTobject.h"
#include "platform/Status.h"

namespace simdex {

class MTobjectHandle : public TreeObject {
 public:
  // Class context of the plug-in objects the engine keeps: in-process or
  // local server (5).
  static constexpr DWORD kClassContext = CLSCTX_INPROC_OR_LOCAL;
  // Bytes of the object identifier after the object's compressed form.
  static constexpr std::int32_t kOidSize = 4;

  // A handle whose new plug-in object has no value yet; its oid is 0. Only
  // Assign may be applied to it before it has one.
  [[nodiscard]] static Status MakeEmpty(std::unique_ptr<MTobjectHandle>* handle);
  // A handle built from an object record: a new plug-in object initialised
  // from the record's first bytes and the oid that follows them. The record
  // is untrusted: it must hold the object's compressed form and the oid
  // (Corruption otherwise). The caller keeps record.
  [[nodiscard]] static Status FromRecord(std::span<const std::byte> record,
                                         std::unique_ptr<MTobjectHandle>* handle);
  // A new plug-in object of objectClass created with classContext (the
  // prototype of an index, and objects the service hands to its clients).
  // A class that cannot be created is NotFound (not registered, module
  // missing), NotSupported (no object interface) or IOError.
  [[nodiscard]] static Status CreatePluginObject(const GUID& objectClass, DWORD classContext,
                                                 ComPtr<IMTobject>* object);
  // A deep copy of other: a new plug-in object with other's value and oid.
  [[nodiscard]] static Status CopyOf(const MTobjectHandle& other,
                                     std::unique_ptr<MTobjectHandle>* handle);

  MTobjectHandle(const MTobjectHandle&) = delete;
  MTobjectHandle& operator=(const MTobjectHandle&) = delete;
  // Releases the plug-in object.
  ~MTobjectHandle() override;

  // CopyOf for callers that cannot report a Status (Clone); a failed creation
  // stops the process ("plugin!=NULL").
  std::unique_ptr<MTobjectHandle> Copy() const;

  // Writes the object record into the front of record, which must hold at
  // least RecordSize() bytes.
  void WriteRecord(std::span<std::byte> record) const;
  // The plug-in object's compressed size + 4.
  std::int32_t RecordSize() const;
  // Gives this handle's own plug-in object other's value (through the byte
  // form) and takes other's oid. No plug-in object is created.
  void Assign(const MTobjectHandle& other);
  // 1 when both oids are equal; the values are not compared.
  int SameObject(const MTobjectHandle& other) const;
  // The plug-in's distance between this object and other's; adds exactly 1 to
  // the active computedDistances counter.
  double Distance(const MTobjectHandle& other) const;
  // The handle's plug-in object (borrowed: no new reference).
  IMTobject* Plugin() const { return plugin_.get(); }

  std::uint32_t Oid() const { return oid_; }
  void SetOid(std::uint32_t oid) { oid_ = oid; }

  // The active index's prototype's compressed size + 4, that is the record
  // size of every object of the index. Requires an active index with a
  // prototype.
  static std::int32_t PrototypeRecordSize();
  // The active index's maximum distance. Requires an active index.
  static double MaxDistance();

 private:
  MTobjectHandle(ComPtr<IMTobject> plugin, std::uint32_t oid);

  // A new plug-in object of the active index's class.
  [[nodiscard]] static Status CreatePlugin(ComPtr<IMTobject>* plugin);
  // This object's compressed size.
  std::int32_t CompressedSize() const;
  // Gives target the value of this handle's object through the byte form.
  void TransferValueTo(IMTobject* target) const;

  ComPtr<IMTobject> plugin_;
  std::uint32_t oid_ = 0;
};

}  // namespace simdex
