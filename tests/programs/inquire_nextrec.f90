! NEXTREC follows the direct-access statements: one past the record
! last read or written, whatever order the records were used in.
program inquire_nextrec
  implicit none
  integer :: n, v, ios
  logical :: od
  open (21, file='nextrec.bin', access='direct', form='unformatted', recl=4, status='replace')
  inquire (21, nextrec=n)
  print *, 'after open', n
  write (21, rec=3) 33
  inquire (21, nextrec=n)
  print *, 'after write 3', n
  write (21, rec=1) 11
  inquire (21, nextrec=n)
  print *, 'after write 1', n
  read (21, rec=3) v
  inquire (21, nextrec=n)
  print *, 'after read 3', v, n
  read (21, rec=9, iostat=ios) v
  print *, 'read 9 fails', ios /= 0
  inquire (21, opened=od)
  print *, od
  close (21, status='delete')
end program inquire_nextrec
