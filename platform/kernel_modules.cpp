#include "platform/kernel_modules.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

const char* const usbModules[] = {
    "kernel/drivers/usb/usb-common.ko",
    "kernel/drivers/usb/core/usbcore.ko",
    "kernel/drivers/usb/host/ehci-hcd.ko",
    "kernel/drivers/usb/host/uhci-hcd.ko",
    "kernel/drivers/usb/host/ohci-hcd.ko",
    "kernel/drivers/hid/usbhid/usbhid.ko",
    "kernel/drivers/usb/storage/usb-storage.ko",
    // Today's controllers come after the old list, so an old PC loads what it always did first:
    // the PCI halves of the USB 2 and 1.1 host drivers, USB 3, and USB attached SCSI.
    "kernel/drivers/usb/host/ehci-pci.ko",
    "kernel/drivers/usb/host/ohci-pci.ko",
    "kernel/drivers/usb/host/xhci-hcd.ko",
    "kernel/drivers/usb/host/xhci-pci.ko",
    "kernel/drivers/usb/storage/uas.ko",
    nullptr,
};

// Each module comes after the modules it needs: there is no dependency resolution.
const char* const diskDriverModules[] = {
    "kernel/fs/ext2/ext2.ko",
    "kernel/fs/ext3/ext3.ko",
    "kernel/drivers/ide/ide-core.ko",
    "kernel/drivers/ide/ide-generic.ko",
    "kernel/drivers/ide/ide-gd_mod.ko",
    "kernel/drivers/ide/cmd64x.ko",
    "kernel/drivers/ide/rz1000.ko",
    "kernel/drivers/ide/via82cxxx.ko",
    "kernel/drivers/ide/cs5530.ko",
    "kernel/drivers/ide/piix.ko",
    "kernel/drivers/ide/sc1200.ko",
    "kernel/drivers/cdrom/cdrom.ko",
    "kernel/drivers/ide/ide-cd_mod.ko",
    "kernel/drivers/scsi/scsi_mod.ko",
    "kernel/drivers/scsi/scsi_wait_scan.ko",
    "kernel/drivers/scsi/sd_mod.ko",
    "kernel/drivers/scsi/sr_mod.ko",
    "kernel/drivers/ata/libata.ko",
    "kernel/drivers/ata/libahci.ko",
    "kernel/drivers/ata/ahci.ko",
    "kernel/drivers/ata/ata_piix.ko",
    "kernel/drivers/ata/pata_ali.ko",
    "kernel/drivers/ata/pata_amd.ko",
    "kernel/drivers/ata/pata_artop.ko",
    "kernel/drivers/ata/pata_atiixp.ko",
    "kernel/drivers/ata/pata_atp867x.ko",
    "kernel/drivers/ata/pata_cmd640.ko",
    "kernel/drivers/ata/pata_cmd64x.ko",
    "kernel/drivers/ata/pata_cs5520.ko",
    "kernel/drivers/ata/pata_cs5530.ko",
    "kernel/drivers/ata/pata_cs5535.ko",
    "kernel/drivers/ata/pata_cs5536.ko",
    "kernel/drivers/ata/pata_cypress.ko",
    "kernel/drivers/ata/pata_efar.ko",
    "kernel/drivers/ata/pata_hpt366.ko",
    "kernel/drivers/ata/pata_hpt37x.ko",
    "kernel/drivers/ata/pata_hpt3x2n.ko",
    "kernel/drivers/ata/pata_hpt3x3.ko",
    "kernel/drivers/ata/pata_it8213.ko",
    "kernel/drivers/ata/pata_it821x.ko",
    "kernel/drivers/ata/pata_jmicron.ko",
    "kernel/drivers/ata/pata_marvell.ko",
    "kernel/drivers/ata/pata_mpiix.ko",
    "kernel/drivers/ata/pata_netcell.ko",
    "kernel/drivers/ata/pata_ns87410.ko",
    "kernel/drivers/ata/pata_ns87415.ko",
    "kernel/drivers/ata/pata_oldpiix.ko",
    "kernel/drivers/ata/pata_pdc2027x.ko",
    "kernel/drivers/ata/pata_serverworks.ko",
    "kernel/drivers/ata/pata_sil680.ko",
    "kernel/drivers/ata/pata_sis.ko",
    "kernel/drivers/ata/pata_sl82c105.ko",
    "kernel/drivers/ata/pata_via.ko",
    "kernel/drivers/ata/pdc_adma.ko",
    "kernel/drivers/ata/sata_inic162x.ko",
    "kernel/drivers/ata/sata_mv.ko",
    "kernel/drivers/ata/sata_nv.ko",
    "kernel/drivers/ata/sata_promise.ko",
    "kernel/drivers/ata/sata_qstor.ko",
    "kernel/drivers/ata/sata_sil24.ko",
    "kernel/drivers/ata/sata_sil.ko",
    "kernel/drivers/ata/sata_sis.ko",
    "kernel/drivers/ata/sata_svw.ko",
    "kernel/drivers/ata/sata_sx4.ko",
    "kernel/drivers/ata/sata_uli.ko",
    "kernel/drivers/ata/sata_via.ko",
    "kernel/drivers/ata/sata_vsc.ko",
    "kernel/drivers/ide/ide-pci-generic.ko",
    "kernel/drivers/ata/ata_generic.ko",
    "kernel/drivers/scsi/3w-9xxx.ko",
    "kernel/drivers/scsi/3w-xxxx.ko",
    "kernel/drivers/scsi/arcmsr/arcmsr.ko",
    "kernel/drivers/scsi/megaraid.ko",
    "kernel/drivers/scsi/megaraid/megaraid_sas.ko",
    "kernel/drivers/scsi/hpsa.ko",
    // Today's disks, after the old list: NVMe, virtio (PCI transport, block and SCSI), Xen.
    "kernel/drivers/nvme/host/nvme-core.ko",
    "kernel/drivers/nvme/host/nvme.ko",
    "kernel/drivers/virtio/virtio_ring.ko",
    "kernel/drivers/virtio/virtio.ko",
    "kernel/drivers/virtio/virtio_pci_legacy_dev.ko",
    "kernel/drivers/virtio/virtio_pci_modern_dev.ko",
    "kernel/drivers/virtio/virtio_pci.ko",
    "kernel/drivers/block/virtio_blk.ko",
    "kernel/drivers/scsi/virtio_scsi.ko",
    "kernel/drivers/block/xen-blkfront.ko",
    // SAS and SCSI host adapters of servers and virtual machines. Their transport classes are
    // not listed: the medium loads them before the lists, as hpsa above already needs.
    "kernel/drivers/message/fusion/mptbase.ko",
    "kernel/drivers/message/fusion/mptscsih.ko",
    "kernel/drivers/message/fusion/mptspi.ko",
    "kernel/drivers/message/fusion/mptsas.ko",
    "kernel/drivers/scsi/mpt3sas/mpt3sas.ko",
    "kernel/drivers/scsi/smartpqi/smartpqi.ko",
    "kernel/drivers/scsi/aacraid/aacraid.ko",
    "kernel/drivers/scsi/vmw_pvscsi.ko",
    "kernel/drivers/scsi/hv_storvsc.ko",
    "kernel/drivers/scsi/BusLogic.ko",
    "kernel/drivers/scsi/sym53c8xx_2/sym53c8xx.ko",
    // eMMC and SD cards: the MMC core and block layer, then the host controllers.
    "kernel/drivers/mmc/core/mmc_core.ko",
    "kernel/drivers/mmc/core/mmc_block.ko",
    "kernel/drivers/mmc/host/cqhci.ko",
    "kernel/drivers/mmc/host/sdhci.ko",
    "kernel/drivers/mmc/host/sdhci-pci.ko",
    "kernel/drivers/mmc/host/sdhci-acpi.ko",
    "kernel/drivers/misc/cardreader/rtsx_pci.ko",
    "kernel/drivers/mmc/host/rtsx_pci_sdmmc.ko",
    nullptr,
};

int LoadModule(const char* path) {
  utsname system{};
  if (uname(&system) != 0) {
    system.release[0] = '\0';  // an empty release still names a directory to try
  }
  char fullPath[512];
  snprintf(fullPath, sizeof fullPath, "/lib/modules/%s/%s", system.release, path);
  int descriptor = open(fullPath, O_RDONLY);
  if (descriptor < 0) {
    return -1;  // not on this installation medium
  }
  struct stat status;
  void* image = MAP_FAILED;
  if (fstat(descriptor, &status) == 0) {
    image = mmap(nullptr, status.st_size, PROT_READ, MAP_SHARED, descriptor, 0);
  }
  if (image == MAP_FAILED) {
    printf("ERROR: could not load module %s\n", path);
    close(descriptor);
    return -1;
  }
  // A refusal (a duplicate, a missing symbol) is the kernel's business and stays silent.
  int result = InitModule(fullPath, image, status.st_size, "");
  munmap(image, status.st_size);
  close(descriptor);
  return result;
}

void LoadModuleList(const char* const* list) {
  for (; *list != nullptr; ++list) {
    LoadModule(*list);
  }
}
