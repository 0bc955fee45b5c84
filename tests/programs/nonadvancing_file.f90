! Non-advancing writes to a file, finished by an advancing write, by
! CLOSE and by REWIND; then read back.
program nonadvancing_file
  implicit none
  character(len=20) :: line
  integer :: ios
  open (55, file='nf.txt', status='replace')
  write (55, '(a)', advance='no') 'ab'
  write (55, '(a)', advance='no') 'cd'
  write (55, '(a)') 'ef'
  write (55, '(i3)', advance='no') 42
  rewind (55)
  do
    read (55, '(a)', iostat=ios) line
    if (ios /= 0) exit
    write (*, '("[", a, "]")') trim(line)
  end do
  close (55)
end program nonadvancing_file
