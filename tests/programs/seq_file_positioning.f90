! A sequential formatted file written, rewound, read back, backspaced and
! truncated with ENDFILE; end of file reported through IOSTAT= (negative)
! and through END=.
program seq_file_positioning
  implicit none
  integer :: i, v, ios
  open (10, file='seq.txt', status='replace')
  do i = 1, 5
    write (10, '(i4)') i * 10
  end do
  rewind (10)
  read (10, '(i4)') v
  read (10, '(i4)') v
  backspace (10)
  read (10, '(i4)') v
  print '(i4)', v
  endfile (10)
  rewind (10)
  do
    read (10, '(i4)', iostat=ios) v
    if (ios /= 0) exit
    print '(i4)', v
  end do
  print '(l1)', ios < 0
  rewind (10)
  do i = 1, 10
    read (10, '(i4)', end=99) v
  end do
99 print '(a, i3)', 'end after', i
  close (10)
end program seq_file_positioning
